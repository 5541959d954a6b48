#!/usr/bin/env python3
"""Reads JUnit XML files as CI servers do, with junitparser, and checks their
counts: each testsuite's tests, failures, errors and skipped are those of the
test cases it holds (a case has at most one result), and the root's are the
sums over the suites.

Usage: check_junit.py FILE...
"""
import sys

from junitparser import Error, Failure, JUnitXml, Skipped


def counts_of(obj):
    return [obj.tests, obj.failures, obj.errors, obj.skipped]


def check(path):
    xml = JUnitXml.fromfile(path)
    problems = []
    totals = [0, 0, 0, 0]
    for suite in xml:
        counted = [0, 0, 0, 0]
        for case in suite:
            counted[0] += 1
            results = case.result
            if len(results) > 1:
                problems.append(f"{suite.name}/{case.name}: {len(results)} results")
            for kind, index in ((Failure, 1), (Error, 2), (Skipped, 3)):
                if any(isinstance(result, kind) for result in results):
                    counted[index] += 1
        if counts_of(suite) != counted:
            problems.append(f"{suite.name}: states {counts_of(suite)}, holds {counted}")
        totals = [a + b for a, b in zip(totals, counted)]
    if counts_of(xml) != totals:
        problems.append(f"testsuites: states {counts_of(xml)}, the suites hold {totals}")
    for problem in problems:
        print(f"{path}: {problem}", file=sys.stderr)
    return not problems


def main(paths):
    results = [check(path) for path in paths]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
