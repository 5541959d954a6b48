#!/usr/bin/env python3
"""Checks that every report of a run states the same facts.

    agreement_test.py --build BUILD_DIR [--cmake CMAKE] --source SOURCE_DIR [--runs N] [--keep DIR] [--verbose]
    agreement_test.py --prefix INSTALL_PREFIX --source SOURCE_DIR [...]

Installs the build into a temporary prefix (or takes an installation) and
runs the installed qorv-postprocess with all seven reports on the bundled
sample and on N (default 24) run files made from it, one per seed: node
groups or none, an invalid node group, records outside every node group,
suppressed records, skipped and validation definitions, definitions the
host failed, runtime errors (ERROR records), include_nodes, FAIL levels
inside a severity group, runs with and without "passed". Each output is
parsed (the console, qorv_results.log, qorv_execution_warnings.log, the
JSON, the JUnit XML, the metrics and the HTML page, the last through an HTML
parser) into statements "source S states fact F = value", and every fact of
FACTS must have one value in all sources that state it. Where a format does
not state a fact it says nothing about it. The verdict is also checked
against its rule: a run file without "passed" fails exactly when an issue
contributes to FAIL or a definition that ran did not pass; one with "passed"
gets that verdict.

Every disagreement of every run is printed before the test fails, as
"seed S: fact F: console says X, html says Y", followed by how many runs
each fact disagreed in. With --keep the run files and outputs stay in DIR.
"""
import argparse
import collections
import copy
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from html.parser import HTMLParser

REPORTS = ["category_summary", "category_log", "qorv_execution_warnings", "qorv_json", "qorv_junit",
           "qorv_metrics", "qorv_html"]
TIMESTAMP = "1770102309"
GROUPS = ["CRITICAL", "WARNING", "INFORMATIONAL"]
NON_ISSUE_CATEGORIES = {"ERROR", "INFORMATIONAL", "SUPPRESSED"}

# The facts the reports must agree on, and where the formats state them.
FACTS = collections.OrderedDict([
    ("verdict", "PASS or FAIL: 'Overall Result:' of console and log, json result.overall, the verdict of "
                "junit's '(no Framework Definition)' suite, metrics qorv_run_passed, the html heading"),
    ("issues contributing to FAIL", "collapsed issues as (diagnoses, observations): 'Total number of issues "
                                    "contributing to FAIL' and the sum of its severity group lines, json "
                                    "result.counts, severity_groups and issues, metrics qorv_issues, html"),
    ("other issues", "the same for 'Total number of other issues'"),
    ("CRITICAL issues contributing to FAIL", "the severity group lines, json, metrics, html table"),
    ("WARNING issues contributing to FAIL", "the same"),
    ("INFORMATIONAL issues contributing to FAIL", "the same"),
    ("CRITICAL other issues", "the same"),
    ("WARNING other issues", "the same"),
    ("INFORMATIONAL other issues", "the same"),
    ("suppressed", "'Total number of issues not shown (suppressed)', json, metrics, html"),
    ("issues per category", "'Overall Result: N issues found - CAT (n), ...' of console, log, json and html; "
                            "the category sections of log and html; json categories"),
    ("issues found", "N of that line; the sum of the categories where no N is printed"),
    ("tests failed to run", "'**WARNING**: N tests failed to run', the runtime errors of log, warnings log "
                            "and html, json, junit (distinct issues of its errors), metrics, html"),
    ("skipped definitions", "'Total number of framework definition(s) skipped', json, metrics, html"),
    ("validation verdicts", "VALIDATION PASSED/FAILED of console, log and html, json, junit"),
    ("definition verdicts", "json, junit suites, metrics"),
    ("tested nodes", "'Nodes tested', the log's and html's node counts, json, metrics, html"),
    ("nodes with issues", "'Nodes with issues found', the log's and html's node counts, json, metrics, html"),
    ("nodes without issues", "the log's and html's node counts, json"),
])

# Where statements come from, in the order a disagreement names them; of
# values stated equally often, the first source's is the reference.
SOURCES = ["console", "console (group lines)", "log", "log (group lines)", "log (node counts)", "log (sections)",
           "warnings log", "json", "json (severity groups)", "json (issues)", "json (summary)", "json (categories)",
           "junit", "metrics", "html", "html (table)", "html (node counts)", "html (sections)", "verdict rule"]

Split = collections.namedtuple("Split", "diagnoses observations")


# --- Run files ---------------------------------------------------------------

SEVERITIES = [0, 5, 15, 24, 25, 30, 45, 49, 50, 55, 60, 74, 75, 80, 90, 100]
# What the run files of 20 seeds or more must cover between them.
COVERAGE = {"node groups", "no node groups", "invalid node group", "record outside every node group on a grouped node",
            "record on a node in no group", "suppressed records", "validation definitions", "skipped definitions",
            "runtime errors", "runtime error outside every node group", "include nodes",
            "FAIL level inside a severity group", "no passed", "passed", "definition failed by the host"}


def group_of(run, node):
    """The node group a node belongs to ("" for none), as the run file says."""
    if "node_groups" in run:
        for group in run["node_groups"]:
            if node in group.get("nodes", []):
                return group["name"]
        return ""
    for entry in run["nodes"]:
        if entry["name"] == node:
            return entry.get("group", "")
    return ""


def generate_run(sample, seed):
    """A run file made from the sample, and the features it covers."""
    r = random.Random(seed)
    run = copy.deepcopy(sample)
    covers = set()
    spare = ["svc%02d" % number for number in range(1, r.randint(1, 3) + 1)]
    run["nodes"] += [{"name": name} for name in spare]

    if r.random() < 0.25:
        del run["node_groups"]
        del run["node_groups_file"]
        covers.add("no node groups")
    else:
        covers.add("node groups")
        if r.random() < 0.3:
            run["node_groups"] = [group for group in run["node_groups"] if group["name"] != "bigmem"]
            for group in run["node_groups"]:
                group["excluded_groups"] = [name for name in group.get("excluded_groups", []) if name != "bigmem"]
        if r.random() < 0.4:
            # An invalid group of tested nodes that have issues.
            run["nodes"] += [{"name": "edge01"}, {"name": "edge02"}]
            run["node_groups"].append({"name": "edge", "nodes": ["edge01", "edge02"], "root_fwds": ["hpc-platform"],
                                       "valid": False})
        if any(not group.get("valid", True) for group in run["node_groups"]):
            covers.add("invalid node group")
    names = [node["name"] for node in run["nodes"]]

    grouped = "node_groups" in run

    def place(record):
        """Moves a record outside every node group now and then. Without node
        groups a record's group is that of its node, "" the default group."""
        roll = r.random()
        if roll < 0.15:
            if roll < 0.1:
                record["subcategory"] = ""
            else:
                record.pop("subcategory", None)
            if grouped:
                covers.add("record outside every node group on a grouped node")
        elif roll < 0.25:
            node = r.choice(spare)
            if record.get("args") and record["args"][0] in record["nodes"]:
                record["args"][0] = node
            record["nodes"] = [node]
            if r.random() < 0.5:
                record["subcategory"] = ""
            else:
                record.pop("subcategory", None)
            if grouped:
                covers.add("record on a node in no group")
        elif roll < 0.32 and "edge01" in names:
            record["nodes"] = [r.choice(["edge01", "edge02"])]
            record["subcategory"] = "edge"
        elif not grouped and record.get("subcategory"):
            record["subcategory"] = group_of(run, record["nodes"][0]) if record["nodes"] else ""

    clean = r.random() < 0.15
    lists = {}
    for key in ("diagnoses", "observations", "third"):
        lists[key] = []
        for record in sample[key]:
            if r.random() < 0.15:
                continue
            record = copy.deepcopy(record)
            if clean:
                record["severity"] = r.choice([0, 5, 15, 24])
            elif r.random() < 0.3:
                record["severity"] = r.choice(SEVERITIES)
            if r.random() < 0.12:
                record["suppressed"] = not record.get("suppressed", False)
            place(record)
            lists[key].append(record)
    errors = [copy.deepcopy(record) for record in sample["issues"] if record["id"] in ("qorv-test-timeout",
                                                                                       "qorv-tool-missing")]
    for number in range(r.randint(0, 3)):
        node = r.choice(names)
        if r.random() < 0.5:
            record = {"id": "qorv-test-timeout", "args": ["stream%d" % number, node, 300 + number], "nodes": [node]}
        else:
            record = {"id": "qorv-tool-missing", "args": ["tool%d" % number, node, "test%d" % number],
                      "nodes": [node]}
        record["severity"] = r.choice([30, 50, 80])
        record["subcategory"] = group_of(run, node)
        if r.random() < 0.1:
            record["suppressed"] = True
        errors.append(record)
    for record in errors:
        if r.random() < 0.3:
            place(record)
        if grouped and not record.get("subcategory") and not record.get("suppressed"):
            covers.add("runtime error outside every node group")
    for key, records in lists.items():
        run[key] = records
    run["issues"] = lists["diagnoses"] + lists["observations"] + lists["third"] + errors
    if errors:
        covers.add("runtime errors")
    if any(record.get("suppressed") for record in run["issues"]):
        covers.add("suppressed records")

    definitions = {definition["name"]: definition for definition in run["fwds"]}
    definitions["storage-health"]["skipped"] = r.random() < 0.6
    definitions["gpu-compute"]["skipped"] = r.random() < 0.2
    definitions["mpi-readiness"]["skipped"] = r.random() < 0.15
    if r.random() < 0.2:
        definitions["hpc-platform"]["validation"] = ""
    if r.random() < 0.4:
        definitions["gpu-compute"]["validation"] = "GPU Node Validation"
    if r.random() < 0.25:
        failed = r.choice([definition for definition in run["fwds"] if not definition.get("skipped")])
        failed["pass"] = False
        covers.add("definition failed by the host")
    if any(definition.get("skipped") for definition in run["fwds"]):
        covers.add("skipped definitions")
    if any(definition.get("validation") for definition in run["fwds"]):
        covers.add("validation definitions")

    level = r.choice([25, 25, 50, 50, 60, 75, 10, None, -1])
    if level is None:
        del run["fail_level"]
    else:
        run["fail_level"] = level
    if level in (10, 50, 60):
        covers.add("FAIL level inside a severity group")
    passed = r.choice([None, None, True, False])
    if passed is None:
        del run["passed"]
        covers.add("no passed")
    else:
        run["passed"] = passed
        covers.add("passed")
    if r.random() < 0.15:
        run["include_nodes"] = sorted(r.sample(names, 6))
        covers.add("include nodes")
    return run, covers


# --- Text helpers ------------------------------------------------------------

def expand_nodes(text):
    """The names of a node-range string: "node[01-03,07],gpu1" gives node01,
    node02, node03, node07, gpu1."""
    names = []
    depth = 0
    part = ""
    for char in text.strip() + ",":
        if char == "," and depth == 0:
            if part:
                names += expand_part(part)
            part = ""
            continue
        depth += {"[": 1, "]": -1}.get(char, 0)
        part += char
    return names


def expand_part(part):
    match = re.match(r"^([^\[]*)\[([^\]]*)\](.*)$", part)
    if not match:
        return [part]
    head, body, tail = match.groups()
    names = []
    for item in body.split(","):
        low, _, high = item.partition("-")
        numbers = range(int(low), int(high) + 1) if high else [int(low)]
        for number in numbers:
            names += [head + str(number).zfill(len(low)) + rest for rest in expand_part(tail)]
    return names


def field(lines, start, prefix):
    """The value of the first line from start on that begins with prefix,
    its wrapped rows joined (they are aligned under the value), or None."""
    for index in range(start, len(lines)):
        if not lines[index].startswith(prefix):
            continue
        value = lines[index][len(prefix):]
        column = len(prefix) + len(value) - len(value.lstrip(" "))
        value = value.strip()
        for row in lines[index + 1:]:
            if not (row.startswith(" " * column) and row[column:column + 1] not in ("", " ")):
                break
            value += ("" if value.endswith(",") else " ") + row.strip()
        return value
    return None


def category_counts(line):
    """{category: count} and the total of an overall result line, or None
    when it is not one."""
    if line is None:
        return None
    if line in ("No issues found", "Could not run all tests."):
        return {}, 0
    match = re.match(r"^(\d+) issues? found -(.*)$", line)
    if not match:
        return None
    counts = {name: int(count) for name, count in re.findall(r"([A-Za-z_][\w-]*)\s*\((\d+)\)", match.group(2))}
    return counts, int(match.group(1))


def split_of(text):
    """Split of "N (d diagnoses, o observations)", or of "N" alone."""
    match = re.match(r"^(\d+)(?: \((\d+) diagnos[ie]s, (\d+) observations?\))?$", text.strip())
    if not match:
        return None
    if match.group(2) is None:
        return Split(0, 0) if match.group(1) == "0" else int(match.group(1))
    return Split(int(match.group(2)), int(match.group(3)))


# --- Parsers: one per format, each saying what its file states --------------

def parse_summary_text(text, source, say):
    """The run summary that the console and the results log share."""
    lines = text.splitlines()
    if lines and re.match(r"^Overall Result: (PASS|FAIL)$", lines[0]):
        say("verdict", source, lines[0].split()[-1])
    tested = field(lines, 0, "Nodes tested: ")
    if tested is not None:
        say("tested nodes", source, frozenset(expand_nodes(tested)))
    with_issues = field(lines, 0, "Nodes with issues found: ")
    if with_issues is not None:
        say("nodes with issues", source, frozenset(expand_nodes(with_issues)))
    skipped = field(lines, 0, "Total number of framework definition(s) skipped : ")
    say("skipped definitions", source, int(skipped) if skipped else 0)

    # "Total number of issues contributing to FAIL: N (...)" and "Total
    # number of other issues: N (...)", each followed by its severity group
    # lines "N GROUP     (d diagnoses,     o observations)".
    totals = {"issues contributing to FAIL": "Total number of issues contributing to FAIL: ",
              "other issues": "Total number of other issues: "}
    section = None
    group_lines = {section: [] for section in totals}
    for index, line in enumerate(lines):
        if line.startswith("---"):
            break
        started = [section for section, prefix in totals.items() if line.startswith(prefix)]
        if started:
            section = started[0]
            say(section, source, split_of(field(lines, index, totals[section])))
        elif line.startswith("Total number of issues not shown"):
            section = None
        elif section:
            match = re.match(r"^(\d+) ([A-Z]+)(?:\s+\((\d+) diagnos[ie]s,\s+(\d+) observations?\))?$", line)
            if match:
                count = split_of(match.group(1) + (" (%s diagnoses, %s observations)" % match.group(3, 4)
                                                   if match.group(3) else ""))
                say("%s %s" % (match.group(2), section), source, count)
                group_lines[section].append(count)
    for section, counts in group_lines.items():
        if counts and all(isinstance(count, Split) for count in counts):
            say(section, source + " (group lines)", Split(sum(count.diagnoses for count in counts),
                                                          sum(count.observations for count in counts)))
        elif counts:
            say(section, source + " (group lines)", sum(count if isinstance(count, int) else sum(count)
                                                        for count in counts))
    suppressed = field(lines, 0, "Total number of issues not shown (suppressed): ")
    say("suppressed", source, int(suppressed.split()[0]) if suppressed else 0)

    summary = lines.index("SUMMARY") if "SUMMARY" in lines else None
    if summary is None:
        return lines
    failed = field(lines, summary, "  **WARNING**: ")
    say("tests failed to run", source, int(re.match(r"(\d+) tests? failed to run", failed).group(1)) if failed else 0)
    counts = category_counts(field(lines, summary, "  Overall Result: "))
    if counts:
        say("issues per category", source, counts[0])
        say("issues found", source, counts[1])
    validations = {}
    verdict = None
    for line in lines[summary:]:
        if line in ("VALIDATION PASSED", "VALIDATION FAILED"):
            verdict = "PASS" if line.endswith("PASSED") else "FAIL"
        elif verdict and line.startswith("  "):
            validations[line.strip()] = verdict
        elif verdict:
            break
    say("validation verdicts", source, validations)
    return lines


def parse_console(text, say):
    parse_summary_text(text, "console", say)


def section_counts(lines):
    """{category: issues listed} of the category sections of a long report
    (RUNTIME ERRORS counted as ERROR)."""
    counts = {}
    category = None
    for index, line in enumerate(lines):
        if line == "Framework Definition Dependencies":
            break
        following = lines[index + 1] if index + 1 < len(lines) else ""
        if re.match(r"^[A-Z][A-Z0-9_ ]*$", line) and (following.startswith("The following") or following.startswith(
                "Quorvane encountered") or following == "No issues detected."):
            category = "ERROR" if line == "RUNTIME ERRORS" else line
            counts.setdefault(category, 0)
        elif category and re.match(r"^ {2}(?: {2})?\d+\. +\S+$", line):
            counts[category] += 1
    return counts


def parse_results_log(text, say):
    lines = parse_summary_text(text, "log", say)
    for label, fact in (("tested", "tested nodes"), ("with no issues", "nodes without issues"),
                        ("with issues", "nodes with issues")):
        for index, line in enumerate(lines):
            match = re.match(r"^( *\d+ nodes? %s: )" % label, line)
            if match:
                say(fact, "log (node counts)", frozenset(expand_nodes(field(lines, index, match.group(1)) or "")))
                break
    start = next((index for index, line in enumerate(lines) if re.match(r"^ *\d+ nodes? tested: ", line)), 0)
    counts = section_counts(lines[start:])
    say("issues per category", "log (sections)",
        {name: count for name, count in counts.items() if count and name not in NON_ISSUE_CATEGORIES})
    say("issues found", "log (sections)",
        sum(count for name, count in counts.items() if name not in NON_ISSUE_CATEGORIES))
    say("tests failed to run", "log (sections)", counts.get("ERROR", 0))


def parse_warnings_log(text, say):
    lines = text.splitlines()
    if "RUN PROBLEMS" in lines:
        lines = lines[:lines.index("RUN PROBLEMS")]
    say("tests failed to run", "warnings log", section_counts(lines).get("ERROR", 0))


def parse_json(text, say):
    document = json.loads(text)
    result = document["result"]
    say("verdict", "json", result["overall"])
    for fact, key in (("issues contributing to FAIL", "contributing_to_fail"), ("other issues", "other")):
        say(fact, "json", Split(result["counts"][key]["diagnoses"], result["counts"][key]["observations"]))
    say("suppressed", "json", result["counts"]["suppressed"])
    say("tests failed to run", "json", result["counts"].get("tests_failed_to_run"))
    say("issues found", "json", result["counts"].get("issues_found"))
    sums = collections.defaultdict(lambda: Split(0, 0))
    for entry in result.get("severity_groups", []):
        section = "issues contributing to FAIL" if entry["contributes_to_fail"] else "other issues"
        count = Split(entry["diagnoses"], entry["observations"])
        say("%s %s" % (entry["severity_group"], section), "json", count)
        # A group either contributes to FAIL as a whole or not at all.
        say("%s %s" % (entry["severity_group"], "other issues" if entry["contributes_to_fail"] else
                       "issues contributing to FAIL"), "json", Split(0, 0))
        sums[section] = Split(sums[section].diagnoses + count.diagnoses,
                              sums[section].observations + count.observations)
    if "severity_groups" in result:
        for section in ("issues contributing to FAIL", "other issues"):
            say(section, "json (severity groups)", sums[section])

    by_group = collections.Counter()
    for issue in document["issues"]:
        kind = "diagnoses" if issue["type"] == "diagnosis" else "observations"
        section = "issues contributing to FAIL" if issue["contributes_to_fail"] else "other issues"
        by_group[(issue["severity_group"], section, kind)] += 1
        by_group[(None, section, kind)] += 1
    for group in GROUPS + [None]:
        for section in ("issues contributing to FAIL", "other issues"):
            fact = section if group is None else "%s %s" % (group, section)
            say(fact, "json (issues)", Split(by_group[(group, section, "diagnoses")],
                                             by_group[(group, section, "observations")]))

    counts = category_counts(result["summary"])
    if counts:
        say("issues per category", "json (summary)", counts[0])
        say("issues found", "json (summary)", counts[1])
    categories = {category["name"]: category for category in document["categories"]}
    counted = {name: category["issue_count"] for name, category in categories.items()
               if category["counts_as_issue"] and category["issue_count"]}
    say("issues per category", "json (categories)", counted)
    say("issues found", "json (categories)", sum(counted.values()))
    say("tests failed to run", "json (categories)", categories["ERROR"]["issue_count"] if "ERROR" in categories else 0)

    definitions = document["framework_definitions"]
    say("skipped definitions", "json", frozenset(d["name"] for d in definitions if d["skipped"]))
    say("validation verdicts", "json",
        {d["validation"]: "PASS" if d["passed"] else "FAIL" for d in definitions if d["validation"]})
    say("definition verdicts", "json", {d["name"]: "PASS" if d["passed"] else "FAIL" for d in definitions})
    say("tested nodes", "json", frozenset(document["tested_nodes"]["names"]))
    say("nodes with issues", "json", frozenset(document["issue_nodes"]["names"]))
    if "nodes_without_issues" in document:
        say("nodes without issues", "json", frozenset(document["nodes_without_issues"]["names"]))
    return document


def parse_junit(text, say):
    root = ElementTree.fromstring(text)
    definitions = {}
    validations = {}
    errors = set()
    for suite in root.iter("testsuite"):
        properties = {prop.get("name"): prop.get("value") for prop in suite.iter("property")}
        if suite.get("name") == "(no Framework Definition)":
            say("verdict", "junit", properties.get("verdict"))
        else:
            definitions[suite.get("name")] = properties.get("verdict")
            if properties.get("validation"):
                validations[properties["validation"]] = properties.get("verdict")
        # An error lists every issue of its case that could not run, each a
        # block; one issue shows in every case and suite it belongs to.
        for error in suite.iter("error"):
            blocks = re.split(r"\n(?=\S+ (?:diagnosis|observation|run problem|issue) \S+: )", error.text or "")
            errors.update(block.strip() for block in blocks if ": the test could not run\n" in block + "\n")
    say("definition verdicts", "junit", definitions)
    say("validation verdicts", "junit", validations)
    say("tests failed to run", "junit", len(errors))


def parse_metrics(text, say):
    samples = collections.defaultdict(list)
    for line in text.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        match = re.match(r"^(\w+)(?:\{(.*)\})? (\S+)$", line)
        labels = dict(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', match.group(2) or ""))
        samples[match.group(1)].append((labels, int(match.group(3))))

    def value(name):
        return samples[name][0][1]

    say("verdict", "metrics", "PASS" if value("qorv_run_passed") == 1 else "FAIL")
    totals = collections.Counter()
    for labels, count in samples["qorv_issues"]:
        section = "issues contributing to FAIL" if labels["contributes_to_fail"] == "true" else "other issues"
        say("%s %s" % (labels["severity"].upper(), section), "metrics", count)
        totals[section] += count
    for section, count in totals.items():
        say(section, "metrics", count)
    say("suppressed", "metrics", value("qorv_suppressed_issues"))
    say("tested nodes", "metrics", value("qorv_tested_nodes"))
    say("nodes with issues", "metrics", value("qorv_nodes_with_issues"))
    say("tests failed to run", "metrics", value("qorv_tests_failed_to_run"))
    say("skipped definitions", "metrics",
        frozenset(labels["definition"] for labels, flag in samples["qorv_framework_definition_skipped"] if flag))
    say("definition verdicts", "metrics", {labels["definition"]: "PASS" if flag else "FAIL"
                                           for labels, flag in samples["qorv_framework_definition_passed"]})


class Element:
    def __init__(self, tag, attributes):
        self.tag = tag
        self.attributes = dict(attributes)
        self.children = []

    def classes(self):
        return (self.attributes.get("class") or "").split()

    def find_all(self, tag=None, cls=None, id_=None):
        found = []
        for child in self.children:
            if isinstance(child, Element):
                if ((tag is None or child.tag == tag) and (cls is None or cls in child.classes())
                        and (id_ is None or child.attributes.get("id") == id_)):
                    found.append(child)
                found += child.find_all(tag, cls, id_)
        return found

    def find(self, tag=None, cls=None, id_=None):
        found = self.find_all(tag, cls, id_)
        return found[0] if found else None

    def text(self):
        return "".join(child if isinstance(child, str) else child.text() for child in self.children)

    def elements(self):
        return [child for child in self.children if isinstance(child, Element)]


class PageParser(HTMLParser):
    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Element("document", {})
        self.open = [self.root]

    def handle_starttag(self, tag, attrs):
        element = Element(tag, attrs)
        self.open[-1].children.append(element)
        if tag not in self.VOID:
            self.open.append(element)

    def handle_startendtag(self, tag, attrs):
        self.open[-1].children.append(Element(tag, attrs))

    def handle_endtag(self, tag):
        for depth in range(len(self.open) - 1, 0, -1):
            if self.open[depth].tag == tag:
                del self.open[depth:]
                return

    def handle_data(self, data):
        self.open[-1].children.append(data)


def html_nodes(element):
    """The node names of a node set the page shows: a list that unfolds, one
    name, or "none"."""
    listing = element.find("div", cls="node-list")
    if listing is not None:
        return frozenset(listing.text().split())
    code = element.find("code")
    return frozenset([code.text()]) if code is not None else frozenset()


def html_facts(element):
    """The dt/dd pairs of the first definition list in element."""
    facts = {}
    term = None
    for child in element.find("dl").elements():
        if child.tag == "dt":
            term = child.text().strip()
        elif child.tag == "dd" and term is not None:
            facts[term] = child
    return facts


def parse_html(text, say):
    parser = PageParser()
    parser.feed(text)
    parser.close()
    page = parser.root
    header = page.find("header", id_="overall")
    say("verdict", "html", header.find("span", cls="verdict").text())
    facts = html_facts(header)
    for fact, term in (("issues contributing to FAIL", "Issues contributing to FAIL"),
                       ("other issues", "Other issues")):
        say(fact, "html", split_of(facts[term].text()))
    say("tested nodes", "html", html_nodes(facts["Nodes tested"]))
    if "Nodes with issues found" in facts:
        say("nodes with issues", "html", html_nodes(facts["Nodes with issues found"]))
    skipped = facts.get("Framework Definitions skipped")
    say("skipped definitions", "html", int(skipped.text()) if skipped is not None else 0)
    suppressed = facts.get("Issues not shown (suppressed)")
    say("suppressed", "html", int(suppressed.text()) if suppressed is not None else 0)

    # The severity table leaves out the rows without issues.
    table = collections.defaultdict(lambda: Split(0, 0))
    for row in header.find("table", id_="severity-counts").find("tbody").find_all("tr"):
        cells = [cell.text().strip() for cell in row.elements()]
        section = "issues contributing to FAIL" if cells[1] == "yes" else "other issues"
        table["%s %s" % (cells[0], section)] = Split(int(cells[2]), int(cells[3]))
    for section in ("issues contributing to FAIL", "other issues"):
        for group in GROUPS:
            say("%s %s" % (group, section), "html (table)", table["%s %s" % (group, section)])
        say(section, "html (table)", Split(sum(table["%s %s" % (g, section)].diagnoses for g in GROUPS),
                                           sum(table["%s %s" % (g, section)].observations for g in GROUPS)))

    summary = html_facts(page.find("section", id_="summary"))
    failed = summary["Tests that failed to run"].text().strip()
    say("tests failed to run", "html", 0 if failed == "none" else int(re.match(r"\d+", failed).group(0)))
    counts = category_counts(summary["Overall result"].text().strip())
    if counts:
        say("issues per category", "html", counts[0])
        say("issues found", "html", counts[1])

    validations = {}
    section = page.find("section", id_="validation")
    if section is not None:
        for heading, items in zip(section.find_all("h3"), section.find_all("ul")):
            for item in items.find_all("li"):
                validations[item.text().strip()] = "PASS" if "pass" in heading.classes() else "FAIL"
    say("validation verdicts", "html", validations)

    for row in page.find("section", id_="node-counts").find_all("tr"):
        label = row.find("th").text().strip()
        fact = {"Tested": "tested nodes", "With no issues": "nodes without issues",
                "With issues": "nodes with issues"}[label]
        say(fact, "html (node counts)", html_nodes(row.elements()[2]))

    sections = {}
    for category in page.find_all("details", cls="category"):
        title = (category.find("summary").find("h2") or category.find("summary").find("h3")).text().strip()
        name = {"Runtime errors": "ERROR", "Additional information": "INFORMATIONAL"}.get(title, title)
        count = re.match(r"\((\d+) issues?\)", category.find("summary").find("span", cls="count").text())
        sections[name] = int(count.group(1))
    counted = {name: count for name, count in sections.items() if count and name not in NON_ISSUE_CATEGORIES}
    say("issues per category", "html (sections)", counted)
    say("issues found", "html (sections)", sum(counted.values()))
    say("tests failed to run", "html (sections)", sections.get("ERROR", 0))


# --- Comparing -----------------------------------------------------------------

def same(a, b):
    """Whether two statements of a fact agree; a bare number stands for the
    size of a node set or the total of a (diagnoses, observations) split."""
    if isinstance(a, int) and not isinstance(b, int):
        a, b = b, a
    if isinstance(b, int) and isinstance(a, Split):
        return sum(a) == b
    if isinstance(b, int) and isinstance(a, frozenset):
        return len(a) == b
    return a == b


def show(value):
    if isinstance(value, Split):
        return "%d (%d diagnoses, %d observations)" % (sum(value), value.diagnoses, value.observations)
    if isinstance(value, frozenset):
        names = sorted(value)
        return "%d: %s" % (len(names), " ".join(names[:12]) + (" ..." if len(names) > 12 else ""))
    if isinstance(value, dict):
        return "{%s}" % ", ".join("%s: %s" % item for item in sorted(value.items()))
    return str(value)


def disagreement(fact, reference, expected, source, value):
    """"fact F: console says X, html says Y", and for node sets the names
    only one of them has."""
    text = "fact %s: %s says %s, %s says %s" % (fact, reference, show(expected), source, show(value))
    if isinstance(expected, frozenset) and isinstance(value, frozenset):
        text += " (only in %s: %s; only in %s: %s)" % (reference, " ".join(sorted(expected - value)) or "-",
                                                       source, " ".join(sorted(value - expected)) or "-")
    return text


def disagreements(statements):
    """(fact, reference source, its value, other source, its value) for each
    statement that differs from the value most sources state."""
    found = []
    for fact in FACTS:
        stated = sorted(statements.get(fact, {}).items(), key=lambda item: SOURCES.index(item[0]))
        if len(stated) < 2:
            continue
        reference = max(stated, key=lambda item: sum(same(item[1], other) for _, other in stated))
        for source, value in stated:
            if not same(reference[1], value):
                found.append((fact, reference[0], reference[1], source, value))
    return found


def verdict_rule(run, statements, document):
    """The verdict the run should have: the run file's "passed" when it has
    one, else FAIL exactly when an issue contributes to FAIL or a
    definition that ran did not pass."""
    if "passed" in run:
        return "PASS" if run["passed"] else "FAIL"
    failing = statements["issues contributing to FAIL"].get("console")
    failed_definition = any(not d["passed"] and not d["skipped"] for d in document["framework_definitions"])
    return "FAIL" if (failing is not None and sum(failing) > 0) or failed_definition else "PASS"


# --- Running -------------------------------------------------------------------

def run_reports(program, run, directory):
    """Runs the program on the run file in directory; the texts of its outputs."""
    with open(os.path.join(directory, "run.json"), "w", encoding="utf-8") as out:
        json.dump(run, out, indent=1)
    command = [program, "run.json", "--timestamp", TIMESTAMP, "--output", "out/qorv_results.log"]
    command += [arg for report in REPORTS for arg in ("-e", report)]
    done = subprocess.run(command, cwd=directory, stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                          check=False)
    if done.returncode != 0:
        raise RuntimeError("exit status %d: %s" % (done.returncode, done.stderr.decode("utf-8", "replace").strip()))
    texts = {"console": done.stdout.decode("utf-8")}
    for name in ("qorv_results.log", "qorv_execution_warnings.log", "qorv_results.json", "qorv_results.junit.xml",
                 "qorv_results.prom", "qorv_results.html"):
        with open(os.path.join(directory, "out", name), encoding="utf-8") as result:
            texts[name] = result.read()
    return texts


PARSERS = [("console", parse_console), ("qorv_results.log", parse_results_log),
           ("qorv_execution_warnings.log", parse_warnings_log), ("qorv_results.json", parse_json),
           ("qorv_results.junit.xml", parse_junit), ("qorv_results.prom", parse_metrics),
           ("qorv_results.html", parse_html)]

# Statements every run's reports make: one missing means that a parser no
# longer finds its text, which would otherwise pass silently.
REQUIRED = [(fact, source) for fact in ("verdict", "tested nodes", "issues contributing to FAIL", "other issues")
            for source in ("console", "log", "json", "html")] + [
    ("verdict", "metrics"), ("tested nodes", "log (node counts)"), ("tested nodes", "html (node counts)"),
    ("issues per category", "console"), ("issues per category", "log"), ("issues per category", "html"),
    ("issues per category", "log (sections)"), ("issues per category", "html (sections)"),
    ("definition verdicts", "junit"), ("definition verdicts", "metrics")]


def check_run(program, run, directory, verbose=False):
    """The problems of one run: outputs that cannot be read, and facts
    (fact, reference source, its value, other source, its value) on which
    the outputs disagree."""
    texts = run_reports(program, run, directory)
    statements = collections.defaultdict(dict)
    problems = []

    def say(fact, source, value):
        assert fact in FACTS and source in SOURCES, (fact, source)
        if value is not None:
            statements[fact][source] = value

    document = None
    for name, parser in PARSERS:
        try:
            result = parser(texts[name], say)
        except Exception as error:  # pylint: disable=broad-except
            problems.append("%s cannot be read: %s: %s" % (name, type(error).__name__, error))
            continue
        if name == "qorv_results.json":
            document = result
    if document is not None:
        say("verdict", "verdict rule", verdict_rule(run, statements, document))
    problems += ["%s states no %s" % (source, fact) for fact, source in REQUIRED if source not in statements[fact]]
    if verbose:
        for fact in FACTS:
            for source, value in sorted(statements.get(fact, {}).items(), key=lambda item: SOURCES.index(item[0])):
                print("  %s: %s: %s" % (fact, source, show(value)))
    return problems, disagreements(statements)


def install(cmake, build, prefix):
    subprocess.run([cmake, "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    program = os.path.join(prefix, "bin", "qorv-postprocess")
    if not os.access(program, os.X_OK):
        sys.exit("no installed %s" % program)
    return program


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--build", help="build directory to install into a temporary prefix")
    where.add_argument("--prefix", help="an installation to run")
    parser.add_argument("--cmake", default="cmake", help="the cmake that installs the build")
    parser.add_argument("--source", required=True, help="source directory (examples/sample and examples/catalogs)")
    parser.add_argument("--runs", type=int, default=24, help="run files to make besides the sample (default 24)")
    parser.add_argument("--first-seed", type=int, default=1)
    parser.add_argument("--keep", help="keep the run files and outputs in this directory")
    parser.add_argument("--verbose", action="store_true", help="print every statement of every run")
    options = parser.parse_args()

    with open(os.path.join(options.source, "examples", "sample", "run.json"), encoding="utf-8") as source:
        sample = json.load(source)
    catalogs = os.path.join(os.path.abspath(options.source), "examples", "catalogs", "")
    for definition in sample["fwds"]:
        for group in definition.get("catalogs", []):
            group["directory"] = catalogs

    work = tempfile.mkdtemp(prefix="qorv-agreement-")
    try:
        if options.build:
            program = install(options.cmake, options.build, os.path.join(work, "prefix"))
        else:
            program = os.path.join(options.prefix, "bin", "qorv-postprocess")
        runs = [(0, sample, set())] + [(seed,) + generate_run(sample, seed)
                                       for seed in range(options.first_seed, options.first_seed + options.runs)]
        return check_all(program, runs, options.keep or work, options.verbose)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check_all(program, runs, where, verbose):
    """Checks each run in a directory of its own under where and prints every
    problem, then how many runs each fact disagreed in; 1 when any run had
    a problem."""
    covered = set()
    pairs = collections.defaultdict(collections.Counter)  # fact: (reference, source): runs
    runs_of = collections.Counter()  # fact: runs it disagreed in
    failures = 0
    for seed, run, covers in runs:
        covered |= covers
        directory = os.path.join(where, "seed-%d" % seed)
        os.makedirs(directory, exist_ok=True)
        label = "seed %d%s" % (seed, " (the sample)" if seed == 0 else "")
        if verbose:
            print("%s:" % label)
        try:
            problems, found = check_run(program, run, directory, verbose)
        except (RuntimeError, subprocess.TimeoutExpired, OSError) as error:
            print("%s: the run failed: %s" % (label, error))
            failures += 1
            continue
        for problem in problems:
            print("%s: %s" % (label, problem))
        for entry in found:
            print("%s: %s" % (label, disagreement(*entry)))
            pairs[entry[0]][entry[1], entry[3]] += 1
        runs_of.update({entry[0] for entry in found})
        failures += bool(found or problems)
    if len(runs) > 20 and COVERAGE - covered:
        print("the run files cover no run with: %s" % ", ".join(sorted(COVERAGE - covered)))
        failures += 1
    if runs_of:
        print("\nFacts that disagreed, in how many of the %d runs:" % len(runs))
        for fact in FACTS:
            if fact in runs_of:
                sources = ", ".join("%s vs %s (%d)" % (reference, source, count)
                                    for (reference, source), count in sorted(pairs[fact].items()))
                print("  %s: %d runs; %s" % (fact, runs_of[fact], sources))
    print("%d of %d runs had reports that disagree or failed" % (failures, len(runs)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
