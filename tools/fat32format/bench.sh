#!/usr/bin/env bash
# Formats a sparse 64 GiB image with this formatter and with mkfs.fat -F 32, side by side, a few
# rounds each, and prints the median times and their ratio. Not a test: timings vary with the
# machine.
#   bench.sh [fat32format-linux] [rounds]
set -euo pipefail
formatter="${1:-build-native/tools/fat32format/fat32format-linux}"
rounds="${2:-5}"
size=64G
[[ -x "$formatter" ]] || { echo "bench.sh: no formatter at $formatter (build fat32format-linux)" >&2; exit 1; }
command -v mkfs.fat >/dev/null || { echo "bench.sh: mkfs.fat is missing (dosfstools)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/fat32format-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Seconds one format of a fresh sparse image takes: seconds <command…> (the image is the last
# argument).
seconds() {
    local image="$work/bench.img"
    rm -f "$image"
    truncate -s "$size" "$image"
    local start end
    start=$(date +%s.%N)
    "$@" "$image" >/dev/null
    end=$(date +%s.%N)
    fsck.fat -n "$image" >/dev/null || { echo "bench.sh: $1 left a volume fsck.fat rejects" >&2; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=() theirs=()
for ((round = 0; round < rounds; ++round)); do
    ours+=("$(seconds "$formatter")")
    theirs+=("$(seconds mkfs.fat -F 32)")
done
ours_median="$(printf '%s\n' "${ours[@]}" | median)"
theirs_median="$(printf '%s\n' "${theirs[@]}" | median)"
printf 'sparse %s image, %d rounds, median seconds\n' "$size" "$rounds"
printf '  fat32format-linux  %.3f\n' "$ours_median"
printf '  mkfs.fat -F 32     %.3f\n' "$theirs_median"
awk -v a="$ours_median" -v b="$theirs_median" 'BEGIN { printf "  ratio (ours / mkfs.fat) %.2f\n", a / b }'
