#!/usr/bin/env bash
# The metrics as node_exporter's textfile collector takes them: the installed
# qorv-postprocess writes the sample's metrics with --metrics-file into the
# directory of a node_exporter that runs as an unprivileged user (nobody) on
# a loopback port; its scrape must show node_textfile_scrape_error 0 and the
# run's verdict. Written with --metrics-mode 0600 the file is unreadable to
# the collector, which must then say so.
# Installs Debian's prometheus-node-exporter when it is missing; exits 77
# (skipped) saying why when it cannot, or when not run as root (node_exporter
# must run as a user other than the one writing the file).
# Usage: node_exporter_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "needs root, to run node_exporter as another user than the one writing the metrics"
exporter=$(command -v prometheus-node-exporter || true)
if [ -z "$exporter" ]; then
  echo "installing prometheus-node-exporter" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends prometheus-node-exporter >&2 ||
    skip "prometheus-node-exporter is not installed and apt-get could not install it"
  exporter=$(dpkg -L prometheus-node-exporter 2>/dev/null | grep -m1 '/bin/prometheus-node-exporter$' || true)
  [ -x "$exporter" ] || skip "the prometheus-node-exporter package has no prometheus-node-exporter program"
fi
if command -v setpriv >/dev/null; then
  as_nobody=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
elif command -v runuser >/dev/null; then
  as_nobody=(runuser -u nobody --)
else
  skip "neither setpriv nor runuser is there to run node_exporter as nobody"
fi

work=$(mktemp -d)
exporter_pid=""
cleanup() {
  if [ -n "$exporter_pid" ]; then kill "$exporter_pid" 2>/dev/null || true; wait "$exporter_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 0755 "$work"  # nobody reaches the textfile directory through it
mkdir -m 0755 "$work/textfile"
"${as_nobody[@]}" test -r "$work/textfile" -a -x "$work/textfile" ||
  fail "nobody cannot read $work/textfile (is $(dirname "$work") closed to others?)"

prefix=$build/test-install-node-exporter
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
program=$prefix/bin/qorv-postprocess
[ -x "$program" ] || fail "no installed $program"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_nobody[@]}" "$exporter" --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" >"$work/exporter.log" 2>&1 &
exporter_pid=$!

# Scrapes node_exporter into $work/scrape, waiting up to ten seconds for it to listen.
scrape() {
  for _ in $(seq 100); do
    if curl -fsS "http://127.0.0.1:$port/metrics" -o "$work/scrape" 2>/dev/null; then return 0; fi
    kill -0 "$exporter_pid" 2>/dev/null || fail "node_exporter ended: $(cat "$work/exporter.log")"
    sleep 0.1
  done
  fail "node_exporter does not answer on 127.0.0.1:$port: $(cat "$work/exporter.log")"
}

# Writes the sample's metrics with the options given; only the metrics reach
# the textfile directory.
report() {
  (cd "$work" && "$program" "$source/examples/sample/run.json" --timestamp 1770102309 --output out/qorv.log \
    --metrics-file "$work/textfile/qorv.prom" "$@" </dev/null >console.txt 2>stderr.txt) ||
    fail "qorv-postprocess exited $?: $(cat "$work/stderr.txt")"
  [ "$(ls -A "$work/textfile")" = "qorv.prom" ] || fail "the textfile directory holds: $(ls -A "$work/textfile")"
  [ -s "$work/out/qorv.log" ] || fail "no results log beside --output"
}

report
[ "$(stat -c %a "$work/textfile/qorv.prom")" = 644 ] || fail "qorv.prom has mode $(stat -c %a "$work/textfile/qorv.prom")"
scrape
grep -qx 'node_textfile_scrape_error 0' "$work/scrape" ||
  fail "node_exporter could not read the metrics: $(grep -E '^node_textfile|qorv' "$work/scrape" || true)"
grep -qx 'qorv_run_passed 0' "$work/scrape" || fail "the scrape holds no verdict: $(grep qorv "$work/scrape" || true)"
grep -q '^qorv_node_issues{node="gpu03",severity="critical"} 1$' "$work/scrape" || fail "the scrape holds no node issues"

# The collector tells a file it cannot read; the test would see the fault.
report --metrics-mode 0600
scrape
grep -qx 'node_textfile_scrape_error 1' "$work/scrape" || fail "node_exporter read a file of mode 0600 as nobody"
echo "node_exporter: all checks passed"
