#!/usr/bin/env python3
"""The HTML report in a real browser: usage html_browser_test.py BUILD SOURCE

Installs the build into a fresh prefix, runs the installed host program with
qorv_html on the bundled sample (at a fixed time), on a hostile run and on a
generated run large enough to open folded, checks the pages with
check_html.py, and opens them from file:// URLs in headless Chromium through
Selenium: the overall result and the time show, a category folds and
unfolds, the node filter (whole names, node ranges, parts of names) and the
severity checkboxes show the right issues, hide the folds they leave empty
and count what they show, a node list unfolds, the severity table fits a
phone, the large page's lists are shown when unfolded, for printing and
without a script, hostile texts stay text (no element of theirs, no script
of theirs ran) and the browser console stays empty.
Needs Debian's chromium, chromium-driver and python3-selenium.
"""
import json
import pathlib
import re
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


def generated_run(build, path):
    """A generated cluster of 3000 records over 120 nodes (288 issues: a
    large page), its compute nodes renamed node1 ... node101 without
    padding, so that node1 and node10 differ by a digit."""
    subprocess.run([str(pathlib.Path(build) / "bench" / "generate_cluster"), "--records", "3000", "--nodes", "120",
                    "--output", str(path)], check=True)
    path.write_text(re.sub(r"\bcn0*(\d+)\b", r"node\1", path.read_text(encoding="utf-8")), encoding="utf-8")


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


def browser(profile, script=True):
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
    if not script:
        options.add_experimental_option("prefs", {"profile.managed_default_content_settings.javascript": 2})
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


def settle(driver):
    # Past the filter's typing delay and the frame after it.
    driver.execute_async_script("setTimeout(() => requestAnimationFrame(() => arguments[0]()), 150)")


def filter_nodes(driver, text, partial=False):
    box = driver.find_element("id", "node-filter")
    box.clear()
    driver.execute_script("document.getElementById('node-partial').checked = arguments[0]", partial)
    box.send_keys(text)
    driver.execute_script("arguments[0].dispatchEvent(new Event('input'))", box)  # clear() sends none
    settle(driver)


def status(driver):
    return driver.find_element("id", "filter-status").text


# The nodes of an issue (li), as its own markup names them.
NODES_OF = """
function nodesOf(li) {
  const dt = Array.from(li.querySelectorAll(":scope > dl > dt")).find(dt => /^\\d+ nodes?$/.test(dt.textContent));
  const dd = dt.nextElementSibling, list = dd.querySelector(".node-list");
  return list ? list.textContent.split(" ") : [dd.textContent.trim()];
}
"""
NODES = NODES_OF + "return nodesOf(arguments[0]);"
# Every issue of the page a reader sees: the list it stands in and its
# number there, and its nodes.
ISSUES = NODES_OF + """
return Array.from(document.querySelectorAll("li.issue")).filter(li => li.checkVisibility()).map(li =>
  [li.closest("[data-list]").dataset.list + "." + li.dataset.n, nodesOf(li)]);
"""


def check_sample(driver, page):
    driver.get(page.as_uri())
    expect(driver.find_element("css selector", "#overall .verdict").text == "FAIL", "no FAIL at the top")
    expect(driver.title == "FAIL 2026-02-03 07:05:09 UTC - Quorvane results", f"title {driver.title!r}")
    top = driver.find_element("id", "overall").text
    for fact in ("2026-02-03 07:05:09 UTC", "/etc/qorv/nodes.txt", "qorv --fwd hpc-platform"):
        expect(fact in top, f"{fact!r} is not at the top")
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
        expect(shown(driver, issue) == ("node27" in driver.execute_script(NODES, issue)), "wrong issue")
    expect(status(driver).startswith("Showing 4 of 23 issues on nodes matching"), f"filter status {status(driver)!r}")
    for fold in driver.find_elements("css selector", "details.category, details.block"):
        matching = [issue for issue in fold.find_elements("css selector", "li.issue")
                    if "node27" in driver.execute_script(NODES, issue)]
        expect((fold.get_attribute("hidden") is None) == bool(matching), "a fold hidden or shown wrongly")
        if matching:
            total = fold.find_element("css selector", ".count").get_attribute("data-total")
            count = fold.find_element("css selector", ".count").text
            noun = "issue" if total == "1" else "issues"
            expect(count == f"({len(matching)} of {total} {noun})", f"{count!r} on {len(matching)} shown")
    filter_nodes(driver, "node[14-16],gpu01")
    names = {"node14", "node15", "node16", "gpu01"}
    for issue in issues:
        expect(shown(driver, issue) == bool(names & set(driver.execute_script(NODES, issue))), "node[14-16],gpu01")
    expect(status(driver).startswith(f"Showing {len(shown_ids(driver))} of 23"), status(driver))
    filter_nodes(driver, "node2")
    expect(shown_ids(driver) == [] and "no node with issues matches" in status(driver), "node2 is not node27")
    filter_nodes(driver, "")
    expect(len(shown_ids(driver)) == 23, "clearing the filter does not show every issue")
    expect(not driver.find_elements("css selector", "details[hidden]"), "clearing the filter leaves folds hidden")

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

    errors = driver.find_element("css selector", "#runtime-errors details.category")
    driver.execute_script("arguments[0].open = false", errors)
    click(driver, driver.find_element("css selector", "#summary a[href='#runtime-errors']"))
    expect(errors.get_attribute("open") is not None, "the link to the runtime errors does not open them")

    driver.set_window_size(390, 844)
    try:
        width, right = driver.execute_script(
            "return [document.documentElement.clientWidth, "
            "document.getElementById('severity-counts').getBoundingClientRect().right]")
        expect(width <= 400 and right <= width, f"the severity table ends at {right} on a screen {width} wide")
    finally:
        driver.set_window_size(1200, 900)


def check_hostile(driver, page):
    driver.get(page.as_uri())
    expect(driver.execute_script("return window.pwned === undefined"), "a script of the run's text ran")
    expect(not driver.find_elements("css selector", "#pwned, img, b, i, u"), "the run's markup made elements")
    scripts = [script.get_attribute("type") for script in driver.find_elements("tag name", "script")]
    expect(scripts == ["application/json", ""], f"more than the page's own script and data: {scripts}")
    body = driver.find_element("tag name", "body").text
    for text in (MARKUP, "<u>CAT</u>", "n\"quote'1", "n<i>2</i>", "n\\x013", "bell \u00ab\u00bb"):
        expect(text in body, f"{text!r} is not shown as text")
    filter_nodes(driver, "*<i>")
    expect(shown_ids(driver) == [MARKUP], f"filter *<i> shows {shown_ids(driver)}")
    filter_nodes(driver, "n<i>2</i>")
    expect(shown_ids(driver) == [MARKUP], f"filter n<i>2</i> shows {shown_ids(driver)}")
    filter_nodes(driver, "rack02999")
    expect(shown_ids(driver) == ["wide"], f"filter rack02999 shows {shown_ids(driver)}")


FOLDS = """
return Array.from(document.querySelectorAll("details.category, details.block")).map(d => [
  d.hidden, d.querySelector(":scope > summary > .count").textContent,
  Array.from(d.querySelectorAll("[data-list]")).map(list => list.dataset.list)]);
"""


def check_generated(driver, page):
    driver.get(page.as_uri())
    folds = driver.find_elements("css selector", "details.category")
    expect(folds and all(fold.get_attribute("open") is None for fold in folds), "a large page does not open folded")
    expect(not driver.find_elements("css selector", "li.issue"), "a large page builds its issue lists at once")
    expect(driver.find_element("css selector", "details.category .count").text == "(157 issues)", "no count")

    # Printing shows every issue, which are the reference for the filters.
    driver.execute_script("window.dispatchEvent(new Event('beforeprint'))")
    everything = dict(driver.execute_script(ISSUES))
    expect(len(everything) == 288, f"{len(everything)} issues printed, not 288")
    expect(not driver.find_elements("css selector", "details:not([open])"), "a fold stays closed in print")
    driver.execute_script("window.dispatchEvent(new Event('afterprint'))")
    expect(not any(shown(driver, fold) for fold in driver.find_elements("css selector", "details.block")),
           "the folds do not close after printing")

    block = driver.find_element("css selector", "details.block")
    click(driver, folds[0].find_element("tag name", "summary"))
    click(driver, block.find_element("tag name", "summary"))
    expect(len(driver.execute_script(ISSUES)) == 100, "an unfolded block of 157 does not show 100 issues")
    click(driver, block.find_element("css selector", ".more button"))
    expect(len(driver.execute_script(ISSUES)) == 157, "Show more does not show the other 57")
    expect(not shown(driver, block.find_element("css selector", ".more")), "Show more stays after the last")

    numbered = [f"node{n}" for n in range(1, 102)]
    cases = [("node1", False, {"node1"}), ("NODE1", False, {"node1"}),
             ("node[10-19]", False, {f"node{n}" for n in range(10, 20)}),
             ("bigmem[0001-0002], login01", False, {"bigmem0001", "bigmem0002", "login01"}),
             ("*node10", False, {name for name in numbered if "node10" in name}),
             ("node10", True, {name for name in numbered if "node10" in name}),
             ("node[1-2]", False, {"node1", "node2"}), ("node[01-02]", False, set()), ("node999", False, set())]
    for text, partial, names in cases:
        filter_nodes(driver, text, partial)
        expected = {key for key, nodes in everything.items() if names & set(nodes)}
        state = status(driver)
        expect(state.startswith(f"Showing {len(expected)} of 288 issues"), f"{text!r}: {state!r}")
        for hidden, count, lists in driver.execute_script(FOLDS):
            inside = {key for key in expected if key.split(".")[0] in lists}
            expect(hidden == (not inside), f"{text!r}: a fold with {len(inside)} matches is hidden={hidden}")
            expect(count.startswith(f"({len(inside)} of "), f"{text!r}: {count!r} for {len(inside)} matches")
        if len(expected) <= 100:  # so few open the folds they are in
            found = dict(driver.execute_script(ISSUES))
            expect(set(found) == expected, f"{text!r} shows {sorted(found)[:5]}, not {sorted(expected)[:5]}")
    filter_nodes(driver, "")
    expect(not driver.find_elements("css selector", "details[hidden]") and status(driver) == "",
           "clearing the filter leaves it in force")


def check_without_script(profile, page):
    driver = browser(profile, script=False)
    try:
        driver.get(page.as_uri())
        expect(len(driver.find_elements("css selector", "li.issue")) == 288, "without a script the issues are missing")
        expect(not shown(driver, driver.find_element("id", "filters")), "filters shown without a script")
    finally:
        driver.quit()


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
        generated_run(build, work / "generated.json")
        generated = report(program, work / "generated.json", work / "generated")
        check_without_script(work / "profile-without-script", generated)
        driver = browser(work / "profile")
        try:
            for check, page in ((check_sample, sample), (check_hostile, hostile), (check_generated, generated)):
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
