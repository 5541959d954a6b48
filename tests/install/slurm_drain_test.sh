#!/usr/bin/env bash
# The drain command against a real Slurm controller: Debian's slurmctld and
# munged run on the loopback with a private configuration (40 nodes, no
# slurmd), and the program's commands are checked through sinfo:
#  - a dry run changes nothing; --apply drains the planned nodes with the
#    planned reasons, and a second --apply finds nothing to do;
#  - a later run with fewer failures resumes exactly the nodes that recovered;
#  - a node drained by hand for another reason, and one drained by qorv that
#    the run did not test, stay as they were throughout;
#  - a plan over the share of the cluster is refused and changes nothing;
#  - scontrol or sinfo that cannot reach the controller (another slurm.conf
#    with a wrong port): reported with Slurm's message, exit status 1.
# Installs slurmctld, slurm-client and munge when they are missing; exits 77
# (skipped) when they cannot be installed.
# Usage: slurm_drain_test.sh <qorv-postprocess>
set -euo pipefail
program=$(realpath "$1")
export PATH=$PATH:/usr/sbin:/sbin

skip() { echo "SKIP: $*"; exit 77; }

have_slurm() {
  local tool
  for tool in slurmctld scontrol sinfo munged; do command -v "$tool" >/dev/null || return 1; done
}

if ! have_slurm; then
  [ "$(id -u)" -eq 0 ] || skip "Slurm and MUNGE are not installed, and only root can install them"
  command -v apt-get >/dev/null || skip "Slurm and MUNGE are not installed, and there is no apt-get"
  # The packages must not start the system's own daemons.
  policy=/usr/sbin/policy-rc.d
  added_policy=""
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && added_policy=1
  fi
  log=$(mktemp)
  status=0
  { apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=120 \
      slurmctld slurm-client munge; } >"$log" 2>&1 || status=$?
  [ -n "$added_policy" ] && rm -f "$policy"
  if [ "$status" -ne 0 ] || ! have_slurm; then
    echo "apt-get said:"; tail -n 5 "$log"; rm -f "$log"
    skip "Debian's slurmctld, slurm-client and munge cannot be installed"
  fi
  rm -f "$log"
fi

work=$(mktemp -d /tmp/qorv-slurm.XXXXXX)
chmod 755 "$work"
munged_pid=""
slurmctld_pid=""
stop() {
  [ -n "$slurmctld_pid" ] && kill "$slurmctld_pid" 2>/dev/null && wait "$slurmctld_pid" 2>/dev/null
  [ -n "$munged_pid" ] && kill "$munged_pid" 2>/dev/null && wait "$munged_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$work/slurmctld.log" ]; then echo "--- slurmctld.log:" >&2; tail -n 20 "$work/slurmctld.log" >&2; fi
  exit 1
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# MUNGE with a fresh key on a private socket.
mkdir -m 700 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
munged --foreground --force --socket="$work/munge/socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" --seed-file="$work/munge/seed" \
  >"$work/munge/stdout" 2>&1 &
munged_pid=$!
for _ in $(seq 50); do [ -S "$work/munge/socket" ] && break; sleep 0.1; done
[ -S "$work/munge/socket" ] || fail "munged did not start: $(cat "$work/munge/stdout" "$work/munge/munged.log" 2>/dev/null)"

# slurmctld alone: nodes that no slurmd serves can still be drained and
# resumed. Each has a loopback address of its own, so the controller never
# waits for a name to resolve.
port=$(free_port)
mkdir "$work/state" "$work/spool"
write_conf() {  # <file> <port>
  cat >"$1" <<EOF
ClusterName=qorvtest
SlurmctldHost=localhost
SlurmctldPort=$2
SlurmdPort=$(( $2 + 1 ))
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
SlurmUser=$(id -un)
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmctldDebug=info
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/builtin
SelectType=select/linear
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
ReturnToService=0
SlurmdTimeout=0
MessageTimeout=5
NodeName=node[01-40] NodeAddr=127.0.0.[1-40] CPUs=1 State=UNKNOWN
PartitionName=all Nodes=ALL Default=YES State=UP
EOF
}
write_conf "$work/slurm.conf" "$port"
write_conf "$work/wrong.conf" "$(free_port)"
export SLURM_CONF=$work/slurm.conf
slurmctld -D -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
slurmctld_pid=$!
up=""
for _ in $(seq 60); do
  kill -0 "$slurmctld_pid" 2>/dev/null || fail "slurmctld stopped: $(tail -n 5 "$work/slurmctld.out")"
  if scontrol ping 2>/dev/null | grep -q 'is UP'; then up=1; break; fi
  sleep 0.5
done
[ -n "$up" ] || fail "slurmctld does not answer on port $port"

# Nodes that never registered are UNKNOWN, and Slurm refuses to resume
# those; down and back makes them IDLE, as a cluster's nodes are.
scontrol update NodeName=node[01-40] State=DOWN Reason=setup
scontrol update NodeName=node[01-40] State=RESUME
states() { sinfo --Node --noheader --format='%N|%T|%E'; }
[ "$(states | grep -c '^node[0-9]*|idle\*|none$')" -eq 40 ] || fail "nodes not idle: $(states | head -n 3)"

# Taken out before any run: node30 by an administrator, node31 by qorv in a
# run before, but none of the runs here tests node31.
hand_reason='bad DIMM, ticket 4711'
old_reason='qorv: qorv-memory-low: from an earlier run'
scontrol update NodeName=node30 State=DRAIN Reason="$hand_reason"
scontrol update NodeName=node31 State=DRAIN Reason="$old_reason"

# results <file> <failing issues "ISSUE:NODE,NODE ..."> : the run tested
# node01-node36 but node31.
results() {
  python3 - "$@" <<'EOF'
import json, sys
issues = {
    "memory": ("qorv-memory-low", 80, "CRITICAL", True, "Free memory is below the 4096 MiB threshold."),
    "fan": ("qorv-fan-speed", 60, "WARNING", True, "Fan 3 at 800 rpm (`fanctl` says $FAN_OK=0 \"low\") \u2014 r\u00e9parer"),
    "bios": ("qorv-bios-note", 10, "INFORMATIONAL", False, "BIOS settings differ."),
}
def node_set(names):
    return {"range": ",".join(names), "count": len(names), "names": names}
tested = ["node%02d" % n for n in range(1, 37) if n != 31]
out = []
for item in sys.argv[2:]:
    name, nodes = item.split(":")
    id_, severity, group, fail, message = issues[name]
    out.append({"ref": len(out), "id": id_, "type": "observation", "severity": severity, "severity_group": group,
                "contributes_to_fail": fail, "message": message, "nodes": node_set(nodes.split(","))})
json.dump({"schema_version": 1, "product": {"name": "Quorvane", "version": "0.1.0"}, "issues": out,
           "tested_nodes": node_set(tested)}, open(sys.argv[1], "w"), indent=2)
EOF
}
results "$work/run1.json" memory:node03,node07,node12 fan:node12,node30 bios:node20
results "$work/run2.json" memory:node07 bios:node20
results "$work/broken.json" memory:node01,node02,node03,node04,node05,node06

drain() {  # <expected status> <args>...: output in $work/out, $work/err
  local expected=$1 status=0
  shift
  "$program" drain "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" -eq "$expected" ] ||
    fail "drain $* exited $status, not $expected: $(cat "$work/err" "$work/out")"
}
reason_of() { states | awk -F'|' -v node="$1" '$1 == node { sub(/^[^|]*\|[^|]*\|/, ""); print; exit }'; }
state_of() { states | awk -F'|' -v node="$1" '$1 == node { print $2; exit }'; }
expect_drained() {  # <reason> <node>...
  local reason=$1 node
  shift
  for node in "$@"; do
    case $(state_of "$node") in drained*) ;; *) fail "$node is $(state_of "$node"), not drained";; esac
    [ "$(reason_of "$node")" = "$reason" ] || fail "$node's reason is '$(reason_of "$node")', not '$reason'"
  done
}
expect_idle() {
  local node
  for node in "$@"; do
    [ "$(state_of "$node")" = 'idle*' ] || fail "$node is $(state_of "$node"), not idle"
  done
}
others_idle() {  # every node but node30, node31 and those named
  local node n
  for n in $(seq 1 40); do
    node=$(printf 'node%02d' "$n")
    case " node30 node31 $* " in *" $node "*) continue;; esac
    expect_idle "$node"
  done
}

# The plan, and a dry run changes nothing. It counts the run's 35 tested
# nodes, of which 4 are over 10%; --apply counts Slurm's 40.
before=$(states)
drain 0 "$work/run1.json" --json --max-share 12
plan_reason() {  # the planned reason for a node
  python3 -c 'import json, sys
for c in json.load(open(sys.argv[1]))["commands"]:
    if sys.argv[2] in c["nodes"]["names"]: print(c["reason"])' "$work/out" "$1"
}
memory_reason=$(plan_reason node03)
twice_reason=$(plan_reason node12)
[ "$memory_reason" = 'qorv: qorv-memory-low: Free memory is below the 4096 MiB…' ] ||
  fail "reason for node03: '$memory_reason'"
[ "$twice_reason" = 'qorv: qorv-memory-low: Free memory is below the… (+1 more)' ] ||
  fail "reason for node12: '$twice_reason'"
[ "$(plan_reason node07)" = "$memory_reason" ] || fail "node03 and node07 are drained for different reasons"
drain 0 "$work/run1.json" --max-share=12
grep -qF "scontrol update NodeName=\"node[03,07]\" State=DRAIN Reason=\"$memory_reason\"" "$work/out" ||
  fail "dry run does not print the drain of node[03,07]: $(cat "$work/out")"
[ "$(states)" = "$before" ] || fail "a dry run changed the node states"

# Applied: node30 is someone else's, left alone though its run failed.
drain 0 --apply "$work/run1.json"
expect_drained "$memory_reason" node03 node07
expect_drained "$twice_reason" node12
expect_drained "$hand_reason" node30
expect_drained "$old_reason" node31
others_idle node03 node07 node12
grep -qF "# Left alone: node30: drained by someone else: \"$hand_reason\"" "$work/out" ||
  fail "node30 is not reported as skipped: $(cat "$work/out")"
grep -q "^# Drained 3 nodes, resumed 0$" "$work/out" || fail "apply did not report 3 drained: $(cat "$work/out")"

# Again: nothing to do.
drain 0 --apply "$work/run1.json"
grep -q "^scontrol" "$work/out" && fail "a second apply ran commands: $(cat "$work/out")"
grep -qF "# Already drained for their reason: node[03,07]" "$work/out" || fail "second apply: $(cat "$work/out")"

# node03 and node12 have recovered; node07 has not; node31 was not tested.
drain 0 "$work/run2.json" --apply
expect_drained "$memory_reason" node07
expect_drained "$hand_reason" node30
expect_drained "$old_reason" node31
others_idle node07
grep -q "^# Drained 0 nodes, resumed 2$" "$work/out" || fail "run 2 did not resume 2: $(cat "$work/out")"
grep -qF "# Left alone: node31: drained by qorv, not tested by this run" "$work/out" ||
  fail "node31 is not reported as untested: $(cat "$work/out")"

# A check that fails on 6 of 40 nodes (15%) is refused, and changes nothing.
before=$(states)
drain 1 --apply "$work/broken.json"
grep -qF "refused: the run has failing issues on 6 of 40 nodes (15%), more than the 10%" "$work/err" ||
  fail "refusal: $(cat "$work/err")"
grep -qF "node count: the nodes Slurm lists" "$work/err" || fail "refusal does not name the node count: $(cat "$work/err")"
grep -qF "more likely broken than the nodes" "$work/err" || fail "refusal: $(cat "$work/err")"
[ "$(states)" = "$before" ] || fail "a refused plan changed the node states"
drain 0 "$work/broken.json" --max-share 20
drain 1 "$work/broken.json"
grep -qF "node count: the run's tested nodes" "$work/err" || fail "dry-run refusal: $(cat "$work/err")"

# Slurm out of reach: sinfo first, then scontrol alone.
drain 1 --apply --slurm-conf "$work/wrong.conf" "$work/run1.json"
grep -qF "cannot read the node states" "$work/err" || fail "unreachable sinfo: $(cat "$work/err")"
grep -qiF "unable to contact slurm controller" "$work/err" || fail "no Slurm message: $(cat "$work/err")"
mkdir "$work/bin"
printf '#!/bin/sh\nSLURM_CONF=%s exec scontrol "$@"\n' "$work/wrong.conf" >"$work/bin/scontrol"
chmod 755 "$work/bin/scontrol"
drain 1 --apply --scontrol "$work/bin/scontrol" "$work/run1.json"
[ "$(grep -c "failed (exit status 1): .*nable to contact slurm controller" "$work/err")" -eq 2 ] ||
  fail "both drains should have failed with Slurm's message: $(cat "$work/err")"
[ "$(states)" = "$before" ] || fail "failed commands changed the node states"

echo "slurm_drain: all checks passed"
