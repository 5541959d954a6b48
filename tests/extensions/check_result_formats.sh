#!/usr/bin/env bash
# Checks result files the way their readers take them: each *.junit.xml
# against docs/qorv-junit.xsd (xmllint) and read by junitparser
# (check_junit.py), each *.prom with promtool. Fails when a file is missing,
# a check fails or a checker is not installed (scripts/install-deps).
# Usage: check_result_formats.sh <source dir> FILE-OR-DIRECTORY...
set -euo pipefail
source=$1
shift
files=()
for arg in "$@"; do
  if [ -d "$arg" ]; then
    files+=("$arg"/*.junit.xml "$arg"/*.prom)
  else
    files+=("$arg")
  fi
done
set -- "${files[@]}"
[ $# -gt 0 ] || { echo "FAIL: no result files to check" >&2; exit 1; }
python=""
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import junitparser' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || { echo "FAIL: no python3 with junitparser (Debian python3-junitparser)" >&2; exit 1; }
command -v promtool >/dev/null || { echo "FAIL: no promtool (Debian prometheus)" >&2; exit 1; }
for file in "$@"; do
  [ -f "$file" ] || { echo "FAIL: no $file" >&2; exit 1; }
  case $file in
    *.junit.xml)
      if ! out=$(xmllint --noout --schema "$source/docs/qorv-junit.xsd" "$file" 2>&1); then
        echo "FAIL: $out" >&2
        exit 1
      fi
      "$python" "$source/tests/extensions/check_junit.py" "$file" ;;
    *.prom)
      promtool check metrics <"$file" || { echo "FAIL: promtool rejects $file" >&2; exit 1; } ;;
    *) echo "FAIL: $file is neither JUnit XML nor metrics" >&2; exit 1 ;;
  esac
done
echo "result formats: $# files pass"
