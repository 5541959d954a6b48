#!/bin/bash
# Times the whole host program on run files of 100k, 250k, 500k and 1M
# records (generate_cluster --records, about 104 records a node and one
# distinct issue in ten records), with the default extensions, and prints
# wall time, peak memory and the growth from one size to the next.
#
#   bench/scale.sh [BUILD-DIR] [RUNS]
#
# BUILD-DIR (default build-release) must hold a Release build; it is
# installed into BUILD-DIR/scale-install and run from there. Each size runs
# RUNS times (default 3) and the best time is kept: the machines are shared,
# so the fastest run is the one least disturbed. Files go to
# ${TMPDIR:-/tmp}/qorv-scale; QORV_SCALE_SIZES overrides the sizes, and
# QORV_SCALE_EXTENSIONS (names separated by blanks) runs those extensions
# instead of the defaults, e.g. every report:
#   QORV_SCALE_EXTENSIONS="category_summary category_log qorv_execution_warnings
#     qorv_json qorv_junit qorv_metrics qorv_html" bench/scale.sh
set -euo pipefail

build=${1:-build-release}
runs=${2:-3}
sizes=${QORV_SCALE_SIZES:-"100000 250000 500000 1000000"}
extension_options=()
for name in ${QORV_SCALE_EXTENSIONS:-}; do extension_options+=(--extension "$name"); done
work=${TMPDIR:-/tmp}/qorv-scale
prefix=$(realpath "$build")/scale-install

[ -x "$build/bench/generate_cluster" ] || { echo "scale.sh: no $build/bench/generate_cluster; build first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "scale.sh: needs /usr/bin/time (Debian: time)" >&2; exit 2; }
cmake --install "$build" --prefix "$prefix" > /dev/null
mkdir -p "$work"

printf '%10s %10s %12s %10s %14s %12s\n' records seconds "peak MiB" "KiB/rec" "time growth" "mem growth"
previous_size=""
for size in $sizes; do
  file=$work/run-$size.json
  # Written afresh each time: a file left by another tree names that
  # tree's catalogues.
  "$build/bench/generate_cluster" --records "$size" --seed 1 --output "$file"
  best_time=""
  best_kib=""
  for ((run = 0; run < runs; run++)); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    ( cd "$work/out" && /usr/bin/time -f '%e %M' -o "$work/time.txt" \
        "$prefix/bin/qorv-postprocess" "$file" --timestamp 1 "${extension_options[@]}" > /dev/null )
    read -r seconds kib < "$work/time.txt"
    if [ -z "$best_time" ] || awk "BEGIN { exit !($seconds < $best_time) }"; then best_time=$seconds; fi
    if [ -z "$best_kib" ] || [ "$kib" -lt "$best_kib" ]; then best_kib=$kib; fi
  done
  growth_time="-"
  growth_mem="-"
  if [ -n "$previous_size" ]; then
    # Per doubling of the records: the ratio to the power 1 / log2(size step).
    growth_time=$(awk "BEGIN { printf \"%.2f\", exp(log($best_time / $previous_time) / (log($size / $previous_size) / log(2))) }")
    growth_mem=$(awk "BEGIN { printf \"%.2f\", exp(log($best_kib / $previous_kib) / (log($size / $previous_size) / log(2))) }")
  fi
  printf '%10s %10s %12.0f %10.2f %14s %12s\n' "$size" "$best_time" "$(awk "BEGIN { print $best_kib / 1024 }")" \
    "$(awk "BEGIN { print $best_kib / $size }")" "$growth_time" "$growth_mem"
  previous_size=$size
  previous_time=$best_time
  previous_kib=$best_kib
done
