#!/usr/bin/env python3
"""The HTML report in a real browser: usage html_browser_test.py BUILD SOURCE

Installs the build into a fresh prefix, runs the installed host program with
the qorv_html extension on the bundled sample (at a fixed time) and on a
hostile run, checks both pages with check_html.py, then opens them from
file:// URLs in headless Chromium through Selenium: the overall result shows,
a category folds and unfolds, the node filter and the severity checkboxes
hide and show the right issues, a node list unfolds, the hostile texts are
plain text (no injected element, no script of theirs ran), and the browser
console stays empty. Needs Debian's chromium, chromium-driver and
python3-selenium (scripts/install-deps).
"""
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_html  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
MARKUP = '<script>window.pwned=1</script><b id="pwned">x</b><img src=x onerror="window.pwned=2">'


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def hostile_run(path):
    """A run whose texts are markup, quotes and control characters, with one
    issue on 3000 nodes; the ids are the messages (no catalogue)."""
    many = [f"rack{i:05d}" for i in range(3000)]
    odd = ["n\"quote'1", "n<i>2</i>", "n\u00013"]
    run = {
        "command_line": "qorv " + MARKUP,
        "passed": False,
        "nodefile": MARKUP,
        "databases": [MARKUP],
        "nodes": [{"name": name} for name in odd + many],
        "fwds": [{"name": MARKUP, "path": "/defs/" + MARKUP + ".xml", "signs": ["s"], "validation": MARKUP}],
        "observation_ids": {MARKUP: ["s"], "wide": ["s"], "bell\u0007 \u00ab\u00bb": ["s"]},
        "category_map": {MARKUP: "<u>CAT</u>"},
        "observations": [],
        "issues": [
            {"id": MARKUP, "severity": 90, "nodes": odd},
            {"id": "bell\u0007 \u00ab\u00bb", "severity": 40, "nodes": [odd[0]]},
            {"id": "wide", "severity": 10, "nodes": many},
        ],
    }
    run["observations"] = run["issues"]
    path.write_text(json.dumps(run), encoding="utf-8")


def report(program, run, directory):
    directory.mkdir()
    result = subprocess.run([program, str(run), "--timestamp", "1770102309", "--extension", "qorv_html"],
                            cwd=directory, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0 or result.stderr:
        fail(f"{run} exited {result.returncode}: {result.stderr}")
    if result.stdout.splitlines()[0] != "HTML report: qorv_results.html":
        fail(f"unexpected console output: {result.stdout!r}")
    page = directory / "qorv_results.html"
    problems = check_html.check(page)
    if problems:
        fail(f"{page}: " + "; ".join(problems))
    return page


def browser(profile):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        fail("python3-selenium is not installed (scripts/install-deps)")
    for needed in (CHROMIUM, CHROMEDRIVER):
        if not pathlib.Path(needed).exists():
            fail(f"{needed} is missing: install chromium and chromium-driver (scripts/install-deps)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={profile}", "--window-size=1200,900"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def shown(driver, element):
    # Selenium's is_displayed counts the content of a closed <details> as shown.
    return driver.execute_script("return arguments[0].checkVisibility()", element)


def click(driver, element):
    # Into the middle of the window, away from the sticky filter bar.
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
    element.click()


def visible_issues(driver):
    return [issue for issue in driver.find_elements("css selector", "li.issue") if shown(driver, issue)]


def filter_nodes(driver, text):
    box = driver.find_element("id", "node-filter")
    box.clear()
    if text:
        box.send_keys(text)
    else:  # clear() sends no input event
        driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", box)


def check_console(driver, page):
    messages = driver.get_log("browser")
    if messages:
        fail(f"{page}: browser console: {messages}")


def check_sample(driver, page):
    driver.get(page.as_uri())
    if driver.find_element("css selector", "#overall .verdict").text != "FAIL":
        fail("the sample's overall result is not shown as FAIL")
    issues = driver.find_elements("css selector", "li.issue")
    if len(issues) != 23 or len(visible_issues(driver)) != 23:
        fail(f"expected 23 issues shown, found {len(issues)}")

    # Fold and unfold the first category.
    category = driver.find_element("css selector", "details.category")
    first = category.find_element("css selector", "li.issue")
    click(driver, category.find_element("tag name", "summary"))
    if category.get_attribute("open") is not None or shown(driver, first):
        fail("the category did not fold")
    click(driver, category.find_element("tag name", "summary"))
    if category.get_attribute("open") is None or not shown(driver, first):
        fail("the category did not unfold")

    # node27 has four issues: two DGEMM results, the memory bandwidth and the kernel.
    filter_nodes(driver, "NODE27")
    ids = sorted(issue.find_element("css selector", ".issue-id").text for issue in visible_issues(driver))
    if ids != ["qorv-dgemm-slow#socket0", "qorv-dgemm-slow#socket1", "qorv-kernel-mismatch", "qorv-stream-slow"]:
        fail(f"filter node27 shows {ids}")
    for issue in issues:
        if shown(driver, issue) != ("node27" in issue.get_attribute("data-nodes").split("\n")):
            fail("the node filter shows or hides the wrong issue")
    status = driver.find_element("id", "filter-status").text
    if not status.startswith("Showing 4 of 23 issues on nodes matching"):
        fail(f"filter status {status!r}")
    if not shown(driver, driver.find_element("css selector", "#categories .no-match")):
        fail("a block without matching issues does not say so")
    filter_nodes(driver, "")
    if len(visible_issues(driver)) != 23:
        fail("clearing the filter does not show every issue")

    # Severity groups.
    toggle = driver.find_element("id", "severity-warning")
    click(driver, toggle)
    for issue in issues:
        if shown(driver, issue) == (issue.get_attribute("data-severity") == "WARNING"):
            fail("unchecking WARNING did not hide exactly the warnings")
    click(driver, toggle)
    if len(visible_issues(driver)) != 23:
        fail("checking WARNING again does not show every issue")

    # A node-range string unfolds to the full list.
    nodes = driver.find_element("css selector", "#node-counts details.nodes")
    click(driver, nodes.find_element("tag name", "summary"))
    listed = nodes.find_element("css selector", ".node-list").text.split()
    if len(listed) != 38 or "node17" not in listed:
        fail(f"the tested nodes unfold to {listed[:5]}...")
    check_console(driver, page)


def check_hostile(driver, page):
    driver.get(page.as_uri())
    if driver.execute_script("return window.pwned === undefined") is not True:
        fail("a script of the run's text ran")
    if driver.find_elements("css selector", "#pwned, img, b, i, u, iframe, object, embed"):
        fail("the run's markup made elements")
    if len(driver.find_elements("tag name", "script")) != 1:
        fail("more than the page's own script")
    body = driver.find_element("tag name", "body").text
    for text in (MARKUP, "<u>CAT</u>", "n\"quote'1", "n<i>2</i>", "n3", "bell \u00ab\u00bb"):
        if text not in body:
            fail(f"{text!r} is not shown as text")
    filter_nodes(driver, "<i>")
    ids = [issue.find_element("css selector", ".issue-id").text for issue in visible_issues(driver)]
    if ids != [MARKUP]:
        fail(f"filter <i> shows {ids}")
    filter_nodes(driver, "rack02999")
    ids = [issue.find_element("css selector", ".issue-id").text for issue in visible_issues(driver)]
    if ids != ["wide"]:
        fail(f"filter rack02999 shows {ids}")
    check_console(driver, page)


def main(build, source):
    work = pathlib.Path(tempfile.mkdtemp(prefix="qorv-html-"))
    prefix = pathlib.Path(build) / "test-install-html"
    try:
        shutil.rmtree(prefix, ignore_errors=True)
        subprocess.run(["cmake", "--install", build, "--prefix", str(prefix)], check=True, stdout=subprocess.DEVNULL)
        program = str(prefix / "bin" / "qorv-postprocess")
        sample = report(program, pathlib.Path(source) / "examples" / "sample" / "run.json", work / "sample")
        hostile_run(work / "hostile.json")
        hostile = report(program, work / "hostile.json", work / "hostile")
        driver = browser(work / "profile")
        try:
            check_sample(driver, sample)
            check_hostile(driver, hostile)
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("HTML report in the browser: all checks passed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
