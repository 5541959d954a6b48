#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed host program
# as an administrator would:
#  - on the bundled sample, every result file and the console compared byte
#    for byte with tests/install/golden (the installation prefix shown as
#    <prefix>), the JSON checked against its schema;
#  - "diff" against an earlier run's results, compared with golden files;
#  - qorv_junit and qorv_metrics on the sample (golden files), their files
#    checked as their readers take them (hostile text: result_formats_test);
#  - with --output out/run.log, the result files beside it;
#  - on a malformed run file: one message, exit 2, nothing written;
#  - the installed headers, forwarding ones included, compile on their own;
#  - with an extension built outside the tree against the installed package.
# Regenerate the golden files after an intended change of report text with
#   QORV_UPDATE_GOLDEN=1 ctest --test-dir build -R installed_run
# Usage: installed_run_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
golden=$source/tests/install/golden
prefix=$build/test-install
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
program=$prefix/bin/qorv-postprocess
[ -x "$program" ] || fail "no installed $program"

# The sample, at a fixed time, without a terminal (width 80).
mkdir "$work/sample"
status=0
(cd "$work/sample" && "$program" "$source/examples/sample/run.json" --timestamp 1770102309 \
  </dev/null >console.txt 2>stderr.txt) || status=$?
[ "$status" -eq 0 ] || fail "sample run exited $status: $(cat "$work/sample/stderr.txt")"
[ -s "$work/sample/stderr.txt" ] && fail "sample run wrote to standard error: $(cat "$work/sample/stderr.txt")"
for file in console.txt qorv_results.log qorv_execution_warnings.log qorv_results.json; do
  [ -f "$work/sample/$file" ] || fail "sample run wrote no $file"
  sed -i "s|$prefix|<prefix>|g" "$work/sample/$file"
  if [ -n "${QORV_UPDATE_GOLDEN:-}" ]; then
    cp "$work/sample/$file" "$golden/$file"
  else
    diff -u "$golden/$file" "$work/sample/$file" || fail "$file differs from $golden/$file"
  fi
done
python3 "$source/tests/extensions/validate_results_json.py" "$source/docs/qorv_results.schema.json" \
  "$work/sample/qorv_results.json" >/dev/null || fail "qorv_results.json does not match its schema"

# What changed since an earlier run (a hand-made results file): three new
# issues contribute to FAIL, so the exit status is 1; a run against itself
# has nothing new.
cp "$source/tests/install/previous_results.json" "$work/previous.json"
for form in text json; do
  option=""
  [ "$form" = json ] && option="--json"
  status=0
  (cd "$work" && "$program" diff $option previous.json sample/qorv_results.json >"diff.$form") || status=$?
  [ "$status" -eq 1 ] || fail "diff ($form) exited $status"
  if [ -n "${QORV_UPDATE_GOLDEN:-}" ]; then
    cp "$work/diff.$form" "$golden/diff.$form"
  else
    diff -u "$golden/diff.$form" "$work/diff.$form" || fail "diff.$form differs from $golden/diff.$form"
  fi
done
(cd "$work" && "$program" diff sample/qorv_results.json sample/qorv_results.json >/dev/null) ||
  fail "diff of a run with itself did not exit 0"

# qorv_junit and qorv_metrics on the sample: golden files, the console lines,
# and files that their readers take (xmllint with docs/qorv-junit.xsd,
# junitparser, promtool).
mkdir "$work/formats"
status=0
(cd "$work/formats" && "$program" "$source/examples/sample/run.json" --timestamp 1770102309 \
  --extension qorv_junit --extension qorv_metrics </dev/null >console.txt 2>stderr.txt) || status=$?
[ "$status" -eq 0 ] || fail "qorv_junit and qorv_metrics exited $status: $(cat "$work/formats/stderr.txt")"
[ -s "$work/formats/stderr.txt" ] && fail "qorv_junit or qorv_metrics wrote to standard error"
[ "$(head -n 2 "$work/formats/console.txt")" = "JUnit XML results: qorv_results.junit.xml
Prometheus metrics: qorv_results.prom" ] || fail "unexpected console: $(cat "$work/formats/console.txt")"
for file in qorv_results.junit.xml qorv_results.prom; do
  if [ -n "${QORV_UPDATE_GOLDEN:-}" ]; then
    cp "$work/formats/$file" "$golden/$file"
  else
    diff -u "$golden/$file" "$work/formats/$file" || fail "$file differs from $golden/$file"
  fi
done
"$source/tests/extensions/check_result_formats.sh" "$source" "$work/formats/qorv_results.junit.xml" \
  "$work/formats/qorv_results.prom" >/dev/null || fail "a result file fails its readers"

# --output puts the results log there and the other files beside it.
(cd "$work" && "$program" "$source/examples/sample/run.json" --output out/run.log </dev/null >/dev/null)
for file in out/run.log out/qorv_execution_warnings.log out/run.json; do
  [ -s "$work/$file" ] || fail "--output out/run.log wrote no $file"
done

# A malformed run file: one line naming the file and the place, exit 2, and
# the results of the last run left as they were.
mkdir "$work/bad"
printf 'results of the last run\n' >"$work/bad/qorv_results.log"
printf '{"nodes": [{"name": "n1"}],\n "fail_level": 1e20}\n' >"$work/bad/run.json"
status=0
(cd "$work/bad" && "$program" run.json 2>stderr.txt >/dev/null) || status=$?
[ "$status" -eq 2 ] || fail "malformed run file exited $status"
grep -q '^qorv-postprocess: run.json:2:[0-9]*: fail_level: ' "$work/bad/stderr.txt" ||
  fail "unexpected message: $(cat "$work/bad/stderr.txt")"
[ "$(wc -l <"$work/bad/stderr.txt")" -eq 1 ] || fail "more than one line on standard error"
[ "$(cat "$work/bad/qorv_results.log")" = "results of the last run" ] || fail "a refused run touched the results"
[ ! -e "$work/bad/qorv_results.json" ] || fail "a refused run wrote qorv_results.json"

# Every installed header, the forwarding ones at the old paths included,
# compiles from the installed tree alone: none names a header left out.
include=$prefix/include/qorv
(cd "$include" && find . -name '*.h' | sort | sed 's|^\./\(.*\)|#include "\1"|') >"$work/all_headers.cpp"
for header in postprocessor/export.h postprocessor/issue_key.h postprocessor/report/string_interface.h \
  postprocessor/report/table.h; do
  grep -q "\"$header\"" "$work/all_headers.cpp" || fail "$header is not installed"
done
"${CXX:-c++}" -std=c++17 -fsyntax-only -I"$include" "$work/all_headers.cpp" ||
  fail "the installed headers do not compile on their own"

# An extension built against the installed package, run by name.
cmake -S "$source/examples/external-extension" -B "$work/ext" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/ext" >/dev/null
(cd "$work" && "$program" "$source/examples/sample/run.json" --extensions "$work/ext" --extension node_issues \
  </dev/null >ext.txt)
grep -q '^Nodes with the most issues (critical, warning, informational):$' "$work/ext.txt" ||
  fail "the external extension printed: $(cat "$work/ext.txt")"
echo "installed run: all checks passed"
