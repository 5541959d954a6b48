#!/usr/bin/env python3
"""The HTML report of a large run in headless Chromium.

  bench/html_browser_bench.py [BUILD-DIR] [--prefix DIR] [--records N] [--nodes M] [--runs R] [--json FILE]

Writes a run of N raw records over M nodes with BUILD-DIR/bench/generate_cluster
(default 100000 over 5000), installs BUILD-DIR (default build-release) into
BUILD-DIR/html-bench-install, or takes the installation at --prefix, renders
the page with its qorv-postprocess --extension qorv_html, opens it R times
(default 3) from a file:// URL in headless Chromium and reports, from the
Performance API:

  load      navigation start to the end of the load event, median of R
  dcl       navigation start to the end of DOMContentLoaded, median of R
  keystroke the filter box typed into one character at a time ("c" ...
            "cn004242", a node of the generated cluster) and cleared again:
            from the input event to the filter's status line changing and
            the next frame, debounce included; median, worst and the last
            letter of the name
  unfold    opening the first category and, apart, the block with the most
            issues (the folds around it open), to the frame after it
  size      bytes of the page; elements: elements after the load event

Needs Debian's chromium, chromium-driver and python3-selenium (run it with
/usr/bin/python3 if another python3 comes first on the PATH).
"""
import argparse
import json
import pathlib
import statistics
import subprocess
import sys
import tempfile

CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
TYPED = "cn004242"

# Types text into the filter and calls back with the milliseconds from the
# input event to the first frame after the status line changed.
KEYSTROKE = """
const [text, done] = arguments;
const box = document.getElementById("node-filter");
const status = document.getElementById("filter-status");
const before = status.textContent;
const start = performance.now();
box.value = text;
box.dispatchEvent(new Event("input", {bubbles: true}));
(function wait() {
  if (status.textContent === before && performance.now() - start < 30000) return setTimeout(wait, 1);
  requestAnimationFrame(() => setTimeout(() => done(performance.now() - start), 0));
})();
"""

# Opens a fold, closed first if it is open, the folds around it open, and
# calls back with the milliseconds to the frame after it: the first category
# (arguments[0] false) or the block with the most issues (true).
UNFOLD = """
const [largest, done] = arguments;
const folds = Array.from(document.querySelectorAll(largest ? "details.block" : "details.category"));
const count = d => {
  const span = d.querySelector(".count");
  return +(span.getAttribute("data-total") || span.textContent.replace(/\\D/g, ""));
};
const fold = largest ? folds.sort((a, b) => count(b) - count(a))[0] : folds[0];
if (!fold) return done(null);
for (let d = fold.parentElement.closest("details"); d; d = d.parentElement.closest("details")) d.open = true;
fold.open = false;
document.body.offsetHeight;
setTimeout(() => {
  const start = performance.now();
  fold.open = true;
  document.body.offsetHeight;
  requestAnimationFrame(() => setTimeout(() => done(performance.now() - start), 0));
}, 100);
"""


def browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1200,900"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(300)
    driver.set_script_timeout(300)
    return driver


def render(arguments, work):
    build = pathlib.Path(arguments.build).resolve()
    prefix = pathlib.Path(arguments.prefix).resolve() if arguments.prefix else build / "html-bench-install"
    if not arguments.prefix:
        subprocess.run(["cmake", "--install", str(build), "--prefix", str(prefix)], check=True,
                       stdout=subprocess.DEVNULL)
    run = work / "run.json"
    subprocess.run([str(build / "bench" / "generate_cluster"), "--records", str(arguments.records), "--nodes",
                    str(arguments.nodes), "--seed", "1", "--output", str(run)], check=True)
    subprocess.run([str(prefix / "bin" / "qorv-postprocess"), str(run), "--timestamp", "1770102309",
                    "--extension", "qorv_html"], cwd=work, check=True, stdout=subprocess.DEVNULL)
    return work / "qorv_results.html"


def measure(driver, page, runs):
    loads, loaded, elements = [], [], 0
    for _ in range(runs):
        driver.get("about:blank")
        driver.get(page.as_uri())
        timing = driver.execute_script(
            "const t = performance.getEntriesByType('navigation')[0];"
            "return [t.loadEventEnd, t.domContentLoadedEventEnd, document.getElementsByTagName('*').length]")
        loads.append(timing[0])
        loaded.append(timing[1])
        elements = timing[2]
    typed = [TYPED[:n] for n in range(1, len(TYPED) + 1)] + [""]
    keystrokes = [driver.execute_async_script(KEYSTROKE, text) for text in typed]
    driver.get(page.as_uri())
    unfold = driver.execute_async_script(UNFOLD, False)
    driver.get(page.as_uri())
    unfold_block = driver.execute_async_script(UNFOLD, True)
    return {"load_ms": statistics.median(loads), "dcl_ms": statistics.median(loaded), "loads_ms": loads,
            "keystroke_ms": statistics.median(keystrokes), "keystroke_worst_ms": max(keystrokes),
            "keystroke_name_ms": keystrokes[-2],
            "keystrokes_ms": keystrokes, "unfold_ms": unfold, "unfold_block_ms": unfold_block,
            "bytes": page.stat().st_size, "elements": elements}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default="build-release")
    parser.add_argument("--prefix", help="an installation to run instead of installing BUILD-DIR")
    parser.add_argument("--records", type=int, default=100000)
    parser.add_argument("--nodes", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--json", help="write the figures to this file too")
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="qorv-html-bench-") as directory:
        work = pathlib.Path(directory)
        page = render(arguments, work)
        driver = browser(work / "profile")
        try:
            figures = measure(driver, page, arguments.runs)
        finally:
            driver.quit()
    print(f"{arguments.records} records over {arguments.nodes} nodes")
    print(f"  page       {figures['bytes'] / 1e6:.2f} MB, {figures['elements']} elements")
    print(f"  load       {figures['load_ms']:.0f} ms (DOMContentLoaded {figures['dcl_ms']:.0f} ms; runs "
          + ", ".join(f"{t:.0f}" for t in figures["loads_ms"]) + ")")
    print(f"  keystroke  {figures['keystroke_ms']:.1f} ms median, {figures['keystroke_worst_ms']:.1f} ms worst, "
          f"{figures['keystroke_name_ms']:.1f} ms at the whole name ("
          + ", ".join(f"{t:.0f}" for t in figures["keystrokes_ms"]) + ")")
    if figures["unfold_ms"] is not None:
        print(f"  unfold     {figures['unfold_ms']:.1f} ms (first category), "
              f"{figures['unfold_block_ms']:.1f} ms (largest block)")
    if arguments.json:
        pathlib.Path(arguments.json).write_text(json.dumps(figures, indent=1) + "\n")


if __name__ == "__main__":
    sys.exit(main())
