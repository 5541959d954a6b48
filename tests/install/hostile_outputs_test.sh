#!/usr/bin/env bash
# The installed host program, with all seven reports, against result files
# that something else got at first or that the run cannot finish:
#  a. a symbolic link at every result name (one dangling) is replaced by the
#     new file, never written through;
#  b. SIGINT, SIGTERM and SIGHUP while a 200,000-record run writes its
#     reports: the default action's status, the previous files byte for
#     byte, no staged file left;
#  c. two runs into the same output at once: each file whole, as one of the
#     two runs alone writes it;
#  d. a run out of address space (ulimit -v): it says "memory", fails and
#     keeps the previous files; so does a run with a report whose file
#     outgrows the file size limit (ulimit -f);
#  e. a device and a FIFO where a result file goes: refused, left as they
#     were (the device only as root).
# Usage: hostile_outputs_test.sh <build dir> <source dir>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(cd "$(mktemp -d)" && pwd -P)  # resolved: compared with /proc/PID/fd links
cleanup() {
  # The runs still running (a failed check); a run waited for is no job.
  for pid in $(jobs -p); do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
check="installing"
trap 'echo "FAIL [$check]: command failed (line $LINENO)" >&2' ERR

fail() { echo "FAIL [$check]: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
program=$prefix/bin/qorv-postprocess
[ -x "$program" ] || fail "no installed $program"
reports=(-e category_summary -e category_log -e qorv_execution_warnings -e qorv_json -e qorv_junit -e qorv_metrics
  -e qorv_html)
results=(qorv_execution_warnings.log qorv_results.html qorv_results.json qorv_results.junit.xml qorv_results.log
  qorv_results.prom)

# report RUN-FILE DIR [OPTION]...: the run with every report into DIR; its
# standard error in $work/stderr.txt; returns the program's status.
report() {
  local run=$1 dir=$2
  shift 2
  "$program" "$run" "${reports[@]}" --timestamp 1770102309 --output "$dir/qorv_results.log" "$@" \
    </dev/null >"$work/console.txt" 2>"$work/stderr.txt"
}

# as_before DIR: DIR holds the files of $work/previous byte for byte, and
# nothing else (no staged or hidden file).
as_before() {
  [ "$(ls -A "$1")" = "$(ls -A "$work/previous")" ] ||
    fail "$1 holds $(ls -A "$1" | tr '\n' ' ')instead of the previous results"
  local name
  for name in "${results[@]}"; do
    cmp -s "$work/previous/$name" "$1/$name" || fail "$name is no longer the previous run's"
  done
}

restore() { rm -rf "$1" && cp -a "$work/previous" "$1"; }

# staged PID DIR: how many files in DIR process PID holds open.
staged() {
  local count=0 fd target
  for fd in /proc/"$1"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    [[ $target == "$2"/* ]] && count=$((count + 1))
  done
  echo "$count"
}

generate() {
  "$build/bench/generate_cluster" --records "$1" --seed "$2" --catalogs "$source/examples/catalogs/" \
    --output "$work/$3" >/dev/null
}

check="a good run of the sample, the previous results of the checks below"
report "$source/examples/sample/run.json" "$work/previous" || fail "exited $?: $(cat "$work/stderr.txt")"
[ "$(ls -A "$work/previous")" = "$(printf '%s\n' "${results[@]}")" ] ||
  fail "wrote $(ls -A "$work/previous" | tr '\n' ' ')"

# a. A link at every result name, to a file of the user's (one to a file
# that is not there): the run replaces the links, the files stay.
check="a: symbolic links at the result names are replaced, not written through"
mkdir "$work/victims" "$work/links"
for name in "${results[@]}"; do
  printf 'not a result: %s\n' "$name" >"$work/victims/$name"
  chmod 0600 "$work/victims/$name"
  ln -s "$work/victims/$name" "$work/links/$name"
done
ln -sf "$work/victims/absent" "$work/links/qorv_results.prom"
report "$source/examples/sample/run.json" "$work/links" || fail "exited $?: $(cat "$work/stderr.txt")"
[ ! -e "$work/victims/absent" ] || fail "the dangling link's target was created"
for name in "${results[@]}"; do
  [ "$(cat "$work/victims/$name")" = "not a result: $name" ] || fail "$name was written through its link"
  [ "$(stat -c %a "$work/victims/$name")" = 600 ] || fail "the mode of $name's link target changed"
  [ -f "$work/links/$name" ] && [ ! -L "$work/links/$name" ] || fail "$name is still a link"
  mode=660
  [ "$name" = qorv_results.prom ] && mode=644  # for node_exporter's own user
  [ "$(stat -c %a "$work/links/$name")" = $mode ] || fail "$name has mode $(stat -c %a "$work/links/$name")"
  cmp -s "$work/previous/$name" "$work/links/$name" || fail "$name differs from the same run's elsewhere"
done
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/links/qorv_results.json" ||
  fail "qorv_results.json does not parse"

# b. A signal while a large run writes its reports. The run is stopped once
# it holds some but not all of its six staged files, so the signal cannot
# come while it puts them in place; a run that got past that point unseen
# (a busy machine) is tried again. A background job of a script ignores
# SIGINT, hence env --default-signal.
check="b: generating a run of 200,000 records"
generate 200000 1 big.json
for signal in INT TERM HUP; do
  check="b: SIG$signal while the reports are written"
  expected=$((128 + $(kill -l "$signal")))
  sent=""
  for attempt in 1 2 3 4 5; do
    restore "$work/out"
    env --default-signal=INT,TERM,HUP "$program" "$work/big.json" "${reports[@]}" \
      --output "$work/out/qorv_results.log" </dev/null >/dev/null 2>"$work/stderr.txt" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
      count=$(staged "$pid" "$work/out")
      if [ "$count" -ge 2 ] && [ "$count" -le 5 ]; then
        kill -STOP "$pid"
        count=$(staged "$pid" "$work/out")
        if [ "$count" -ge 2 ] && [ "$count" -le 5 ]; then
          kill -"$signal" "$pid"
          sent=yes
        fi
        kill -CONT "$pid" 2>/dev/null || true
        [ -n "$sent" ] && break
      fi
      sleep 0.02
    done
    status=0
    { wait "$pid" || status=$?; } 2>/dev/null  # without the shell's "Hangup"
    [ -n "$sent" ] && break
    [ "$status" -eq 0 ] || fail "the run exited $status: $(cat "$work/stderr.txt")"
    echo "note: SIG$signal: the run ended before it could be caught writing (attempt $attempt); again" >&2
  done
  [ -n "$sent" ] || fail "no run could be caught writing its reports"
  [ "$status" -eq "$expected" ] || fail "exited $status, not $expected: $(cat "$work/stderr.txt")"
  as_before "$work/out"
done

# c. Two runs into the same output at once: every file is whole, as one of
# the two runs writes it alone (last rename wins, file by file).
check="c: two runs into the same output at once"
generate 100000 2 one.json
generate 100000 3 two.json
for run in one two; do
  report "$work/$run.json" "$work/both" || fail "$run alone exited $?: $(cat "$work/stderr.txt")"
  cp -a "$work/both" "$work/alone-$run"
done
"$program" "$work/one.json" "${reports[@]}" --timestamp 1770102309 --output "$work/both/qorv_results.log" \
  </dev/null >/dev/null 2>"$work/stderr-one.txt" &
one=$!
"$program" "$work/two.json" "${reports[@]}" --timestamp 1770102309 --output "$work/both/qorv_results.log" \
  </dev/null >/dev/null 2>"$work/stderr-two.txt" &
two=$!
status=0
wait "$one" || status=$?
[ "$status" -eq 0 ] || fail "the first run exited $status: $(cat "$work/stderr-one.txt")"
wait "$two" || status=$?
[ "$status" -eq 0 ] || fail "the second run exited $status: $(cat "$work/stderr-two.txt")"
[ "$(ls -A "$work/both")" = "$(printf '%s\n' "${results[@]}")" ] ||
  fail "the output holds $(ls -A "$work/both" | tr '\n' ' ')"
[ "$(tr -dc '\000' <"$work/both/qorv_results.log" | wc -c)" -eq 0 ] || fail "the results log holds NUL bytes"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/both/qorv_results.json" ||
  fail "qorv_results.json does not parse"
for name in "${results[@]}"; do
  cmp -s "$work/both/$name" "$work/alone-one/$name" || cmp -s "$work/both/$name" "$work/alone-two/$name" ||
    fail "$name is neither run's file"
done

# d. Out of address space. jemalloc reserves address space ahead, so the
# limit at which a run fails only once it has read its run file is looked
# for, halving the range (geometrically) from 128 MiB .. 16 GiB. Every run
# that fails must say so and keep the previous files; one must fail past
# the reading.
check="d: a run out of memory under ulimit -v"
low=131072 high=16777216 found=""
# AddressSanitizer reserves terabytes of address space for its shadow: no
# limit lets such a build start, so the check is left to the plain build.
attempts=12
if grep -q '^QORV_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "note: $check is skipped in a sanitizer build"
  attempts=0 found=skipped
fi
for attempt in $(seq "$attempts"); do
  limit=$(python3 -c "import sys; print(round((int(sys.argv[1]) * int(sys.argv[2])) ** 0.5))" "$low" "$high")
  restore "$work/out"
  status=0
  (ulimit -v "$limit" && report "$work/big.json" "$work/out") || status=$?
  case $status in
    0) high=$limit ;;
    1 | 2)
      grep -q memory "$work/stderr.txt" || fail "at $limit KiB: exited $status saying: $(cat "$work/stderr.txt")"
      as_before "$work/out"
      if [ "$status" -eq 2 ]; then low=$limit; else found=$limit && break; fi ;;
    *) fail "at $limit KiB: exited $status: $(cat "$work/stderr.txt")" ;;
  esac
done
[ -n "$found" ] || fail "no limit between $low and $high KiB let the run start but not finish"

# A file size limit between the sizes of the two largest result files: the
# report of the largest fails after the others were written.
check="d: a report that cannot write its file whole (ulimit -f)"
sizes=$(cd "$work/alone-one" && stat -c '%s %n' "${results[@]}" | sort -n | tail -n 2)
largest=${sizes##* }
limit=$(echo "$sizes" | awk '{ sum += $1 } END { print int(sum / 2 / 1024) }')
restore "$work/out"
status=0
(trap '' XFSZ && ulimit -f "$limit" && report "$work/one.json" "$work/out") || status=$?
[ "$status" -eq 1 ] || fail "with $largest over the limit, exited $status: $(cat "$work/stderr.txt")"
grep -q "$largest" "$work/stderr.txt" || fail "the message was: $(cat "$work/stderr.txt")"
as_before "$work/out"

# e. A device (a private /dev/null) as the results log, and a FIFO as the
# metrics file: refused and left as they were; nothing else replaced.
check="e: a FIFO where the metrics go"
restore "$work/fifo"
rm "$work/fifo/qorv_results.prom"
mkfifo -m 0640 "$work/fifo/qorv_results.prom"
status=0
timeout 120 "$program" "$source/examples/sample/run.json" "${reports[@]}" --timestamp 1770102309 \
  --output "$work/fifo/qorv_results.log" </dev/null >/dev/null 2>"$work/stderr.txt" || status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "exited $status: $(cat "$work/stderr.txt")"
grep -q 'is a FIFO' "$work/stderr.txt" || fail "the message was: $(cat "$work/stderr.txt")"
[ -p "$work/fifo/qorv_results.prom" ] && [ "$(stat -c %a "$work/fifo/qorv_results.prom")" = 640 ] ||
  fail "the FIFO was replaced or its mode changed"
for name in "${results[@]}"; do
  [ "$name" = qorv_results.prom ] || cmp -s "$work/previous/$name" "$work/fifo/$name" || fail "$name was replaced"
done
[ "$(ls -A "$work/fifo")" = "$(ls -A "$work/previous")" ] ||
  fail "the output holds $(ls -A "$work/fifo" | tr '\n' ' ')"

check="e: a character device as the results log"
if [ "$(id -u)" -eq 0 ]; then
  mkdir "$work/device"
  mknod "$work/device/null" c 1 3
  chmod 0666 "$work/device/null"
  null_mode=$(stat -c %a /dev/null)
  status=0
  "$program" "$source/examples/sample/run.json" "${reports[@]}" --output "$work/device/null" \
    </dev/null >/dev/null 2>"$work/stderr.txt" || status=$?
  [ "$status" -ne 0 ] || fail "the run succeeded"
  grep -q 'is a device, not a file the reports may replace' "$work/stderr.txt" ||
    fail "the message was: $(cat "$work/stderr.txt")"
  [ -c "$work/device/null" ] && [ "$(stat -c %a "$work/device/null")" = 666 ] ||
    fail "the device was replaced or its mode changed"
  [ "$(stat -c %a /dev/null)" = "$null_mode" ] || fail "the mode of /dev/null changed"
  [ "$(ls -A "$work/device")" = null ] || fail "the run left $(ls -A "$work/device" | tr '\n' ' ')"
else
  echo "note: not root, so the device check is skipped (mknod needs root)"
fi
echo "hostile outputs: all checks passed"
