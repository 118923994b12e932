#!/usr/bin/env bash
# The Windows formatter under 64-bit Wine: it formats an image file given as its argument, and
# the result passes fsck.fat, an mtools round trip and a 7-Zip listing; its command-line mistakes
# and failures end non-zero after one line saying what failed.
#   wine-check.sh <emulator command…> -- <fat32format.exe>
set -uo pipefail
emulator=()
while [[ $# -gt 0 && "$1" != "--" ]]; do emulator+=("$1"); shift; done
shift
exe="${1:?usage: wine-check.sh <emulator…> -- <fat32format.exe>}"
export MTOOLS_SKIP_CHECK=1

work="$(mktemp -d "${TMPDIR:-/tmp}/fat32format-wine-XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Runs the formatter; leaves its exit code, standard output and error output in rc, out, err.
formatter() {
    "${emulator[@]}" "$exe" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    out="$(cat "$work/out")"
    err="$(cat "$work/err")"
}
le() {  # le FILE OFFSET WIDTH: a little-endian number of the file
    od -An -tu"$3" -j"$2" -N"$3" --endian=little "$1" | tr -d ' '
}
expect_failure() {  # expect_failure CODE TEXT ARGS…
    local code="$1" text="$2"
    shift 2
    formatter "$@"
    [[ $rc -eq $code ]] || fail "$* exited $rc, not $code"
    [[ "$(printf '%s\n' "$err" | grep -c .)" -eq 1 ]] || fail "$*: not one line: $err"
    [[ "$err" == *"$text"* ]] || fail "$*: '$err' lacks '$text'"
}

# A volume of 40 GiB as a sparse image file.
image="$work/volume.img"
truncate -s 40G "$image"
formatter "$(windows_path "$image")"
[[ $rc -eq 0 ]] || fail "formatting the image exited $rc: $out $err"
[[ "$out" == "Formatted Z:"*"as FAT32: "* ]] || fail "summary line: $out"
check="$(fsck.fat -n "$image" 2>&1)" || fail "fsck.fat: $check"
[[ "$(printf '%s\n' "$check" | wc -l)" -eq 2 ]] || fail "fsck.fat reported: $check"
[[ "$(le "$image" 11 2)" -eq 512 && "$(le "$image" 13 1)" -eq 64 ]] || fail "sector or cluster size"
[[ "$(le "$image" 14 2)" -eq 32 && "$(le "$image" 16 1)" -eq 2 ]] || fail "reserved sectors or tables"
[[ "$(le "$image" 32 4)" -eq $((40 * 1024 * 1024 * 2)) ]] || fail "total sectors"
[[ "$(le "$image" 44 4)" -eq 2 && "$(le "$image" 50 2)" -eq 6 ]] || fail "root or backup sector"
[[ "$(dd if="$image" bs=1 skip=82 count=8 2>/dev/null)" == "FAT32   " ]] || fail "type text"
[[ "$(le "$image" 510 2)" -eq 43605 ]] || fail "boot signature"
clusters="$(printf '%s\n' "$check" | sed -n 's|.*, 1/\([0-9]*\) clusters|\1|p')"
[[ "$(le "$image" $((512 + 488)) 4)" -eq $((clusters - 1)) ]] || fail "FSInfo free count"

mkdir -p "$work/tree/sub" "$work/back"
echo alpha >"$work/tree/a.txt"
head -c 70000 /dev/zero | tr '\0' b >"$work/tree/sub/b.bin"
mcopy -s -i "$image" "$work/tree" ::/ || fail "mcopy into the volume"
mdir -i "$image" ::/tree/sub | grep -q "70 000" || fail "mdir does not show b.bin"
mcopy -s -n -i "$image" ::/tree "$work/back" || fail "mcopy out of the volume"
diff -r "$work/tree" "$work/back/tree" >/dev/null || fail "the tree did not come back unchanged"
7zz l "$image" | grep -q "tree/sub/b.bin" || fail "7zz does not list the tree"

# What the program says when it cannot format.
expect_failure 1 "Usage: fat32format"
expect_failure 1 "Usage: fat32format" 'C:\a.img' 'C:\b.img'
expect_failure 2 'Cannot open Z:\nonexistent\x.img for writing: error 3' 'Z:\nonexistent\x.img'
truncate -s 20M "$work/small.img"
expect_failure 5 "refused: The volume is too small for FAT32" "$(windows_path "$work/small.img")"
# Wine opens a drive linked to an image file but answers no disk requests.
prefix_drive="${emulator[1]:-}/dosdevices/q::"
if [[ -d "${emulator[1]:-}/dosdevices" ]]; then
    ln -sfn "$work/small.img" "$prefix_drive"
    formatter '\\.\Q:'
    rm -f "$prefix_drive"
    [[ $rc -eq 3 || $rc -eq 4 ]] || fail "\\\\.\\Q: exited $rc: $err"
    [[ "$err" == 'Locking \\.\Q: failed'* || "$err" == 'Reading the length of \\.\Q: failed'* ]] ||
        fail "\\\\.\\Q: said: $err"
else
    fail "no Wine prefix at ${emulator[1]:-}"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures checks failed"
    exit 1
fi
echo "all checks passed"
