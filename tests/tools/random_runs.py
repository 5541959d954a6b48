#!/usr/bin/env python3
"""Runs qorv-postprocess with every report on random variations of the sample.

    random_runs.py PROGRAM EXTENSION_DIR SAMPLE_RUN CATALOG_DIR COUNT SEED

Each variation is a valid run file: issues dropped, doubled, reordered, moved
to other nodes (odd names included) or given other ids, severities,
arguments, groups and flags; node groups, dependencies, signs, sign maps,
tables, sort criteria and the FAIL level changed at random. Every run must
end with status 0 or 1, without a sanitizer report, within a minute, and
leave a JSON and a JUnit document that parse. A failing run file is kept
in the working directory as random-run-<seed>.json.
"""
import copy
import json
import os
import random
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

REPORTS = ["category_summary", "category_log", "qorv_execution_warnings", "qorv_json", "qorv_junit",
           "qorv_metrics", "qorv_html"]
ODD_NODES = ["n[1]", "a,b", "node 7", "n\u0153ud-\u00e91", "x" * 300, "node-01", "node001", "<b>&\"'",
             "ctl\u0007"]
SANITIZER_MARKS = ["runtime error:", "AddressSanitizer", "LeakSanitizer"]


def argument(r):
    return r.choice([r.randint(-10**18, 10**18), r.random() * 1e6, -0.0, 0, "", "text", "{0}", "%s%n", "y" * 200])


def vary(base, ids, r):
    run = copy.deepcopy(base)
    names = [node["name"] for node in run["nodes"]]
    if r.random() < 0.3:
        for name in r.sample(ODD_NODES, 3):
            if name not in names:
                run["nodes"].append({"name": name, "group": r.choice(["compute", "gpu", "", "new group"])})
                names.append(name)
    if r.random() < 0.3:
        run.pop("node_groups", None)
    elif r.random() < 0.3:
        run["node_groups"] = [{"name": group, "nodes": r.sample(names, r.randint(0, len(names)))}
                              for group in ["a", "b", "compute", ""]]

    everything = []
    for key in ("diagnoses", "observations", "third"):
        kept = []
        for issue in run[key]:
            if r.random() < 0.1:
                continue
            issue = copy.deepcopy(issue)
            if r.random() < 0.2:
                issue["severity"] = r.choice([0, 1, 24, 25, 26, 49, 50, 74, 75, 99, 100])
            if r.random() < 0.2:
                issue["nodes"] = [r.choice(names) for _ in range(r.choice([0, 1, 1, 2, 3, 10]))]
            if r.random() < 0.1:
                issue["id"] = r.choice(ids + ["unknown-id", ids[0] + "#sub", "#", "a#b#c"])
            if r.random() < 0.15:
                issue["args"] = [argument(r) for _ in range(r.randint(0, 6))]
            if r.random() < 0.1:
                issue["suppressed"] = True
            if r.random() < 0.15:
                issue["subcategory"] = r.choice(["", "compute", "gpu", "unknown"])
            if r.random() < 0.05:
                issue["secondary_id"] = r.choice(ids)
                issue["secondary_args"] = [argument(r)]
            if r.random() < 0.05:
                issue["sort_value"] = r.randint(-2**31, 2**31 - 1)
            kept.append(issue)
            if r.random() < 0.1:
                kept.append(copy.deepcopy(issue))
        if r.random() < 0.3:
            r.shuffle(kept)
        run[key] = kept
        everything += kept
    run["issues"] = [] if r.random() < 0.1 else copy.deepcopy(everything) if r.random() < 0.2 else everything

    if r.random() < 0.4:
        # Dependencies only on definitions later in a random order: no cycle.
        order = [definition["name"] for definition in run["fwds"]]
        r.shuffle(order)
        for definition in run["fwds"]:
            below = order[order.index(definition["name"]) + 1:]
            groups = [r.sample(below, r.randint(0, min(2, len(below)))) for _ in range(r.randint(0, 2))]
            definition.pop("depends_on", None)
            if any(groups):
                definition["depends_on"] = [group for group in groups if group]
        run.pop("roots", None)
    if r.random() < 0.3:
        for definition in run["fwds"]:
            definition["signs"] = r.sample(["free-memory", "swap-use", "dgemm-rate", "fabric-link", "none"],
                                           r.randint(0, 3))
    for key in ("observation_ids", "diagnosis_ids"):
        if r.random() < 0.2:
            for id_ in r.sample(sorted(run[key]), r.randint(1, len(run[key]))):
                del run[key][id_]
    if r.random() < 0.2:
        run["message_tables"] = {r.choice(ids): [{"header": r.choice(["Node", "", "H"]),
                                                  "cell": r.choice(["qorv-cell-node", "missing-cell"])}
                                                 for _ in range(r.randint(0, 4))]}
    if r.random() < 0.2:
        run["sorting"] = [{"field": r.choice(["sort_value", "id", "node", "severity"]), "ascending": r.random() < 0.5}
                          for _ in range(r.randint(0, 4))]
    if r.random() < 0.2:
        run["fail_level"] = r.choice([-1, 0, 1, 50, 100])
    if r.random() < 0.1:
        run["category_map"] = {id_: r.choice(["ERROR", "INFORMATIONAL", "SUPPRESSED", "OTHER", ""]) for id_ in ids}
    return run


def problems_of(directory, status, stderr):
    problems = []
    if status not in (0, 1):
        problems.append("exit status %d" % status)
    problems += ["sanitizer report" for mark in SANITIZER_MARKS if mark in stderr][:1]
    if status in (0, 1):
        try:
            with open(os.path.join(directory, "qorv_results.json"), encoding="utf-8") as results:
                json.load(results)
        except (OSError, ValueError) as error:
            problems.append("qorv_results.json: %s" % error)
        try:
            ElementTree.parse(os.path.join(directory, "qorv_results.junit.xml"))
        except (OSError, ElementTree.ParseError) as error:
            problems.append("qorv_results.junit.xml: %s" % error)
    return problems


def main():
    program, extensions, sample, catalogs, count, seed = sys.argv[1:7]
    with open(sample, encoding="utf-8") as source:
        base = json.load(source)
    for definition in base["fwds"]:
        for group in definition.get("catalogs", []):
            group["directory"] = os.path.join(os.path.abspath(catalogs), "")
    ids = sorted({issue["id"] for key in ("diagnoses", "observations", "third") for issue in base[key]})
    arguments = [arg for report in REPORTS for arg in ("-e", report)]

    failures = 0
    for case in range(int(seed), int(seed) + int(count)):
        run = vary(base, ids, random.Random(case))
        with tempfile.TemporaryDirectory() as directory:
            with open(os.path.join(directory, "run.json"), "w", encoding="utf-8") as out:
                json.dump(run, out)
            command = [program, "run.json", "--extensions", extensions, "--timestamp", "1"] + arguments
            try:
                done = subprocess.run(command, cwd=directory, capture_output=True, timeout=60, check=False)
                problems = problems_of(directory, done.returncode, done.stderr.decode("utf-8", "replace"))
            except subprocess.TimeoutExpired:
                problems = ["no end within a minute"]
        if problems:
            failures += 1
            kept = "random-run-%d.json" % case
            with open(kept, "w", encoding="utf-8") as out:
                json.dump(run, out)
            print("seed %d: %s (run file kept as %s)" % (case, "; ".join(problems), os.path.abspath(kept)))
    print("%d of %s random runs failed" % (failures, count))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
