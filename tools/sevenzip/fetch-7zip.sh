#!/usr/bin/env bash
# Fetches the pinned 7-Zip for Windows package with npm, checks its SHA-256 and unpacks its
# Windows programs (win/ia32 and win/x64) into the output folder.
#   fetch-7zip.sh <output folder> <package@version> <sha256> [<tarball already at hand>]
set -euo pipefail
out_dir="${1:?output folder}"
package="${2:?package@version}"
expected_sha256="${3:?sha256}"
tarball="${4:-}"
fetched_here=false

mkdir -p "$out_dir"
if [[ -z "$tarball" ]]; then
  tarball="$out_dir/$(echo "$package" | sed 's/@/-/').tgz"
  if [[ ! -f "$tarball" ]]; then
    (cd "$out_dir" && npm pack --silent "$package" >/dev/null)
  fi
  fetched_here=true
fi
[[ -f "$tarball" ]] || { echo "fetch-7zip.sh: $tarball was not fetched" >&2; exit 1; }

actual_sha256="$(sha256sum "$tarball" | cut -d' ' -f1)"
if [[ "$actual_sha256" != "$expected_sha256" ]]; then
  echo "fetch-7zip.sh: $tarball has SHA-256 $actual_sha256, expected $expected_sha256" >&2
  # A download that does not match is not kept, so the next build fetches it again.
  if $fetched_here; then rm -f "$tarball"; fi
  exit 1
fi

rm -rf "$out_dir/win"
# Unpacked files take the time of unpacking, so the build sees them as newer than this script.
tar -xzf "$tarball" -C "$out_dir" --touch --strip-components=1 package/win/ia32 package/win/x64
for arch in ia32 x64; do
  for file in 7z.exe 7z.dll; do
    [[ -s "$out_dir/win/$arch/$file" ]] || { echo "fetch-7zip.sh: win/$arch/$file missing" >&2; exit 1; }
  done
done
