#!/usr/bin/env bash
# Times qel-headless against the raw pipeline that puts the same payload on the same image
# (mkfs.fat, 7zz x into a fresh temporary folder, mcopy -s), in pairs over several rounds, and
# prints the medians and their ratio, for the extraction run with formatting and for
# AutoPartition with one FAT32 partition (whose raw pipeline starts with sfdisk).
#   scripts/bench-headless.sh [native build dir] [payload archive] [rounds]
# Defaults: build-native, $QEL_PAYLOAD or the payload of build-win32 or build-win64, 7 rounds.
# The image is a 2 GiB sparse file with one partition from 1 MiB; it lives in a temporary folder
# ($TMPDIR) that is removed at the end, where the raw pipeline also unpacks the payload
# (qel-headless unpacks it in /dev/shm when there is room): TMPDIR=/dev/shm puts both in memory.
# Each round runs the pair in alternating order.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build-native}"
payload="${2:-${QEL_PAYLOAD:-}}"
rounds="${3:-7}"
if [[ -z "$payload" ]]; then
  for candidate in "$here"/build-win32/payload/RAZEvor.7z "$here"/build-win64/payload/RAZEvor.7z; do
    [[ -f "$candidate" ]] && payload="$candidate" && break
  done
fi
headless="$build/tools/imagemachine/qel-headless"
[[ -x "$headless" ]] || { echo "no qel-headless in $build" >&2; exit 2; }
[[ -f "$payload" ]] || { echo "no payload archive (give it as an argument)" >&2; exit 2; }
payload="$(realpath "$payload")"
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
image="$work/stick.img"
start=2048
offset=$((start * 512))
kib=$(((2048 - 1) * 1024))
for name in 7zG 7zDLL 7zVI f32; do echo "$name placeholder" >"$work/$name"; done
truncate -s 2G "$work/base.img"
echo "label: dos
start=$start, type=c, bootable" | sfdisk -q "$work/base.img" >/dev/null 2>&1
mkfs.fat -F 32 --offset=$start "$work/base.img" $kib >/dev/null

fresh_image() { rm -f "$image" && cp --sparse=always "$work/base.img" "$image"; }

headless_run() {
  mkdir -p "$work/drive-c"
  local argv=("$headless" --image "$image" --host-folder "$work/drive-c" --payload "$payload")
  for name in 7zG 7zDLL 7zVI f32; do argv+=(--resource "$name=$work/$name"); done
  "${argv[@]}" "$@" >"$work/run.log" 2>&1 || { echo "qel-headless failed:" >&2; tail "$work/run.log" >&2; exit 1; }
}

raw_copy() {
  local unpacked
  unpacked="$(mktemp -d)"
  mkfs.fat -F 32 --offset=$start -n RAZEVOR "$image" $kib >/dev/null
  7zz x -y -ptubrisk -o"$unpacked" "$payload" >/dev/null
  mcopy -i "$image@@$offset" -s -o "$unpacked"/* ::/
  rm -rf "$unpacked"
}

raw_extraction() { raw_copy; }
raw_autopartition() {
  echo "label: dos
start=$start, type=c, bootable" | sfdisk -q "$image" >/dev/null 2>&1
  raw_copy
}
headless_extraction() { headless_run --format; }
headless_autopartition() { headless_run --run autopartition --layout 1; }

# Seconds a command takes, with a fresh image made beforehand.
timed() {
  fresh_image
  sync
  local t0=$EPOCHREALTIME
  "$@"
  local t1=$EPOCHREALTIME
  echo "$t1 - $t0" | bc -l
}

median() { sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'; }

for run in extraction autopartition; do
  : >"$work/headless.times"
  : >"$work/raw.times"
  for ((round = 1; round <= rounds; round++)); do
    if ((round % 2)); then
      timed "headless_$run" >>"$work/headless.times"
      timed "raw_$run" >>"$work/raw.times"
    else
      timed "raw_$run" >>"$work/raw.times"
      timed "headless_$run" >>"$work/headless.times"
    fi
  done
  h=$(median <"$work/headless.times")
  r=$(median <"$work/raw.times")
  printf '%-13s headless %.3f s  raw pipeline %.3f s  ratio %.2f  (medians of %d rounds)\n' \
    "$run" "$h" "$r" "$(echo "$h / $r" | bc -l)" "$rounds"
done
