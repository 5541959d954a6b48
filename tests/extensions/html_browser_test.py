#!/usr/bin/env python3
"""The HTML report in a real browser: usage html_browser_test.py BUILD SOURCE

Installs the build into a fresh prefix, runs the installed host program with
qorv_html on the bundled sample (at a fixed time) and on a hostile run,
checks both pages with check_html.py, and opens them from file:// URLs in
headless Chromium through Selenium: the overall result shows, a category
folds and unfolds, the node filter and the severity checkboxes show the
right issues, a node list unfolds, hostile texts stay text (no element of
theirs, no script of theirs ran) and the browser console stays empty.
Needs Debian's chromium, chromium-driver and python3-selenium.
"""
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_html  # noqa: E402

CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
MARKUP = '<script>window.pwned=1</script><b id="pwned">x</b><img src=x onerror="window.pwned=2">'


def expect(condition, message):
    if not condition:
        print(f"FAIL: {message}", file=sys.stderr)
        sys.exit(1)


def hostile_run(path):
    """Markup, quotes and control characters in every shown text, and one
    issue on 3000 nodes; without catalogues the ids are the messages."""
    many = [f"rack{i:05d}" for i in range(3000)]
    odd = ["n\"quote'1", "n<i>2</i>", "n\u00013"]
    issues = [{"id": MARKUP, "severity": 90, "nodes": odd},
              {"id": "bell\u0007 \u00ab\u00bb", "severity": 40, "nodes": odd[:1]},
              {"id": "wide", "severity": 10, "nodes": many}]
    path.write_text(json.dumps({
        "command_line": "qorv " + MARKUP, "passed": False, "nodefile": MARKUP, "databases": [MARKUP],
        "nodes": [{"name": name} for name in odd + many],
        "fwds": [{"name": MARKUP, "path": "/defs/" + MARKUP + ".xml", "signs": ["s"], "validation": MARKUP}],
        "observation_ids": {issue["id"]: ["s"] for issue in issues},
        "category_map": {MARKUP: "<u>CAT</u>"}, "observations": issues, "issues": issues}), encoding="utf-8")


def report(program, run, directory):
    directory.mkdir()
    result = subprocess.run([program, str(run), "--timestamp", "1770102309", "--extension", "qorv_html"],
                            cwd=directory, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    expect(result.returncode == 0 and not result.stderr, f"{run} exited {result.returncode}: {result.stderr}")
    expect(result.stdout.startswith("HTML report: qorv_results.html\n"), f"console: {result.stdout!r}")
    page = directory / "qorv_results.html"
    problems = check_html.check(page)
    expect(not problems, f"{page}: {problems}")
    return page


def browser(profile):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        expect(False, "python3-selenium is not installed (scripts/install-deps)")
    for needed in (CHROMIUM, CHROMEDRIVER):
        expect(pathlib.Path(needed).exists(), f"{needed} is missing: install chromium and chromium-driver")
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


def shown_ids(driver):
    return sorted(issue.find_element("css selector", ".issue-id").text
                  for issue in driver.find_elements("css selector", "li.issue") if shown(driver, issue))


def filter_nodes(driver, text):
    box = driver.find_element("id", "node-filter")
    box.clear()
    box.send_keys(text)
    driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", box)  # clear() sends none


def check_sample(driver, page):
    driver.get(page.as_uri())
    expect(driver.find_element("css selector", "#overall .verdict").text == "FAIL", "no FAIL at the top")
    issues = driver.find_elements("css selector", "li.issue")
    expect(len(shown_ids(driver)) == len(issues) == 23, f"{len(issues)} issues, not 23")

    category = driver.find_element("css selector", "details.category")
    first = category.find_element("css selector", "li.issue")
    click(driver, category.find_element("tag name", "summary"))
    expect(category.get_attribute("open") is None and not shown(driver, first), "the category did not fold")
    click(driver, category.find_element("tag name", "summary"))
    expect(category.get_attribute("open") is not None and shown(driver, first), "the category did not unfold")

    filter_nodes(driver, "NODE27")
    ids = shown_ids(driver)
    expect(ids == ["qorv-dgemm-slow#socket0", "qorv-dgemm-slow#socket1", "qorv-kernel-mismatch", "qorv-stream-slow"],
           f"filter node27 shows {ids}")
    for issue in issues:
        expect(shown(driver, issue) == ("node27" in issue.get_attribute("data-nodes").split("\n")), "wrong issue")
    status = driver.find_element("id", "filter-status").text
    expect(status.startswith("Showing 4 of 23 issues on nodes matching"), f"filter status {status!r}")
    expect(shown(driver, driver.find_element("css selector", "#categories .no-match")), "no note on empty blocks")
    filter_nodes(driver, "")
    expect(len(shown_ids(driver)) == 23, "clearing the filter does not show every issue")

    toggle = driver.find_element("id", "severity-warning")
    click(driver, toggle)
    for issue in issues:
        expect(shown(driver, issue) != (issue.get_attribute("data-severity") == "WARNING"), "WARNING toggle")
    click(driver, toggle)
    expect(len(shown_ids(driver)) == 23, "checking WARNING again does not show every issue")

    nodes = driver.find_element("css selector", "#node-counts details.nodes")
    click(driver, nodes.find_element("tag name", "summary"))
    listed = nodes.find_element("css selector", ".node-list").text.split()
    expect(len(listed) == 38 and "node17" in listed, f"the tested nodes unfold to {listed[:5]}...")


def check_hostile(driver, page):
    driver.get(page.as_uri())
    expect(driver.execute_script("return window.pwned === undefined"), "a script of the run's text ran")
    expect(not driver.find_elements("css selector", "#pwned, img, b, i, u"), "the run's markup made elements")
    expect(len(driver.find_elements("tag name", "script")) == 1, "more than the page's own script")
    body = driver.find_element("tag name", "body").text
    for text in (MARKUP, "<u>CAT</u>", "n\"quote'1", "n<i>2</i>", "n\\x013", "bell \u00ab\u00bb"):
        expect(text in body, f"{text!r} is not shown as text")
    filter_nodes(driver, "<i>")
    expect(shown_ids(driver) == [MARKUP], f"filter <i> shows {shown_ids(driver)}")
    filter_nodes(driver, "rack02999")
    expect(shown_ids(driver) == ["wide"], f"filter rack02999 shows {shown_ids(driver)}")


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
            for check, page in ((check_sample, sample), (check_hostile, hostile)):
                check(driver, page)
                messages = driver.get_log("browser")
                expect(not messages, f"{page.parent.name}: browser console: {messages}")
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("HTML report in the browser: all checks passed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
