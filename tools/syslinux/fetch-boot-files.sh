#!/usr/bin/env bash
# Gathers Syslinux's BIOS boot files from Debian's binary packages of one Syslinux version:
#   fetch-boot-files.sh <cache folder> <output folder>
# The output folder receives ldlinux.bss (the volume boot sector), ldlinux.sys (the loader),
# mbr.bin and modules/ (every BIOS module, ldlinux.c32 among them).
#
# Debian ships ldlinux.bss and ldlinux.sys only inside its Linux installer (/usr/bin/syslinux of
# the package syslinux), which also carries the ldlinux.c32 it writes; the other modules come
# from syslinux-common. The installer's ldlinux.c32 is a later build of the same source than
# syslinux-common's, so it replaces that one: Debian's Linux installer, the Windows installers
# built here and the payload then all leave the same ldlinux.c32 on a drive. Both .deb files and
# the three files taken out of the installer are pinned by SHA-256.
set -euo pipefail
cache="$(realpath -m "${1:?cache folder}")"
output="$(realpath -m "${2:?output folder}")"

# Package, version, architecture, SHA-256 of the .deb.
readonly installer_package="syslinux 3:6.04~git20190206.bf6db5b4+dfsg1-3+b1 amd64
  07a34a8b09e19ef44285d45c24aefd1119cf3c1580223cbca0dc58f8dd33ee33"
readonly modules_package="syslinux-common 3:6.04~git20190206.bf6db5b4+dfsg1-3 all
  f7e4ead7fdfe5cb6117d8d2485d75e53570a8cf680c81a432f92c1774f878875"
readonly boot_files_sha256=(
  "94bb10108daeb9cc3f65141d8d1e87994f504c701e3936030e1663c01781f5a5  ldlinux.bss"
  "266813dd25bc548da86ac6552cb055e7e1d4a46c3727ed34f3d80cdcb4ecb3d8  ldlinux.sys"
  "087ab8d6fba4beb6ff0043b66c7199f31f2e4080e0ebd487798f9f5395c7794e  modules/ldlinux.c32"
)

fail() {
  echo "fetch-boot-files.sh: $*" >&2
  exit 1
}

# Downloads one pinned .deb into the cache (once) and unpacks it; prints the unpack folder.
unpacked_package() {
  local name="$1" version="$2" arch="$3" sha256="$4"
  local deb="$cache/${name}_${version//:/%3a}_${arch}.deb"
  if [[ ! -f "$deb" ]] || ! sha256sum --status -c <<<"$sha256  $deb"; then
    rm -f "$deb"
    (cd "$cache" && apt-get download -q=2 -o APT::Sandbox::User="$(id -un)" "$name=$version") ||
      fail "cannot download $name $version (apt-get update may be needed)"
  fi
  sha256sum --status -c <<<"$sha256  $deb" || fail "$deb does not have the pinned SHA-256"
  rm -rf "$cache/$name"
  dpkg-deb -x "$deb" "$cache/$name"
  echo "$cache/$name"
}

mkdir -p "$cache"
rm -rf "$output"
mkdir -p "$output/modules"
# shellcheck disable=SC2086 # four words: name, version, architecture, SHA-256
installer_root="$(unpacked_package $installer_package)"
# shellcheck disable=SC2086
modules_root="$(unpacked_package $modules_package)"

cp "$modules_root"/usr/lib/syslinux/modules/bios/*.c32 "$output/modules/"
cp "$modules_root/usr/lib/syslinux/mbr/mbr.bin" "$output/mbr.bin"

# The installer embeds, one after the other, the boot sector (512 bytes, from the jump and the
# name SYSLINUX), the loader padded to whole sectors, and ldlinux.c32 (an ELF file, whose end
# its section table gives).
python3 - "$installer_root/usr/bin/syslinux" "$output" <<'PYTHON'
import struct, sys
program, output = sys.argv[1], sys.argv[2]
data = open(program, "rb").read()
boot = data.find(b"\xeb\x58\x90SYSLINUX")
assert boot > 0 and data.count(b"\xeb\x58\x90SYSLINUX") == 1, "no single boot sector"
loader = boot + 512
module = loader
while data[module:module + 4] != b"\x7fELF":  # the loader's length is whole sectors
    module += 512
    assert module < len(data), "no ldlinux.c32 after the loader"
shoff, = struct.unpack_from("<I", data, module + 32)
shentsize, shnum = struct.unpack_from("<HH", data, module + 46)
parts = {"ldlinux.bss": (boot, loader), "ldlinux.sys": (loader, module),
         "modules/ldlinux.c32": (module, module + shoff + shentsize * shnum)}
for name, (start, end) in parts.items():
    with open(f"{output}/{name}", "wb") as out:
        out.write(data[start:end])
PYTHON

(cd "$output" && sha256sum --quiet -c) <<<"$(printf '%s\n' "${boot_files_sha256[@]}")" ||
  fail "the boot files taken from $installer_root/usr/bin/syslinux differ from the pinned ones"
