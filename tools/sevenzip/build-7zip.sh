#!/usr/bin/env bash
# Builds 7-Zip's GUI extractor (7zG.exe) and its extract-only 7z library (7z.dll) for Windows
# from the pinned Debian source package, with one MinGW-w64 toolchain, statically linked.
#   build-7zip.sh <out dir> <source cache> <C compiler> <C++ compiler> <windres>
# Writes <out dir>/7zG.exe and <out dir>/7z.dll. A stamp records the pinned source and every
# input of the build; when it matches, nothing is rebuilt.
set -euo pipefail
if (($# != 5)); then
  echo "usage: $0 <out dir> <source cache> <cc> <cxx> <windres>" >&2
  exit 64
fi
out="$1" cache="$2" cc="$3" cxx="$4" windres="$5"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

package=7zip
version=22.01+really26.02+dfsg-0+deb12u1
dsc_sha256=9a47e2fc3baaf658772ac6a879e794eaf5129685cf60494d74559ff990b21872

# Forwarding headers: the sources name some Windows headers in mixed case, MinGW ships them in
# lower case, and this file system tells the two apart.
mixed_case_headers=(CommCtrl.h HtmlHelp.h MAPI.h NTSecAPI.h OleCtl.h Psapi.h ShObjIdl.h ShlGuid.h
  ShlObj.h Shlwapi.h TlHelp32.h WinUser.h WinVer.h Windows.h)
# The make variables a cross build needs: Windows is detected from the environment otherwise,
# MSYSTEM picks the POSIX shell commands, the dfsg tarball has no RAR sources, and Debian's patch
# drops the strip flag.
make_variables=(IS_MINGW=1 MSYSTEM=MINGW64 DISABLE_RAR=1 "LFLAGS_STRIP=-s -Wl,--no-insert-timestamp"
  "CC=$cc" "CXX=$cxx" "RC=$windres")

stamp_content() {
  echo "$package $version $dsc_sha256"
  echo "${make_variables[*]}"
  "$cc" --version | head -n 1
  "$cxx" --version | head -n 1
  sha256sum "$here/build-7zip.sh" "$here/7zG.mak" "$here/7zxa.mak" | cut -d' ' -f1
}
stamp="$out/build.stamp"
if [[ -f "$stamp" && -s "$out/7zG.exe" && -s "$out/7z.dll" ]] &&
  [[ "$(cat "$stamp")" == "$(stamp_content)" ]]; then
  echo "7-Zip $version: unchanged, not rebuilt"
  touch "$out/7zG.exe" "$out/7z.dll"
  exit 0
fi

rm -f "$stamp"
rm -rf "$out/src"
# dpkg-source leaves links to the tarballs beside the unpacked tree: inside src/ they go with it.
src="$out/src/7zip"
"$repo/tools/debsrc/fetch-source.sh" "$package" "$version" "$dsc_sha256" "$cache" "$src"

include="$out/include"
mkdir -p "$include"
for header in "${mixed_case_headers[@]}"; do
  printf '#include <%s>\n' "${header,,}" >"$include/$header"
done

jobs="${QEL_7ZIP_JOBS:-2}"
build_one() {  # <folder under CPP/7zip> <make list> <object folder> <product>
  mkdir -p "$3"
  make -s -j"$jobs" -C "$src/CPP/7zip/$1" -f "$2" "${make_variables[@]}" "O=$3" \
    "DEB_7Z_CPPFLAGS=-I$include" "RFLAGS=-I$include" >"$3.log" 2>&1 || { tail -n 40 "$3.log" >&2; exit 1; }
  cp "$3/$4" "$out/$4"
}
started=$SECONDS
build_one UI/GUI "$here/7zG.mak" "$out/obj-gui" 7zG.exe
build_one Bundles/Format7zExtract "$here/7zxa.mak" "$out/obj-dll" 7z.dll
echo "7-Zip $version built in $((SECONDS - started)) s: 7zG.exe $(stat -c %s "$out/7zG.exe")" \
  "bytes, 7z.dll $(stat -c %s "$out/7z.dll") bytes"
# The sources and objects are not needed once the two files exist.
rm -rf "$out/src" "$out/obj-gui" "$out/obj-dll" "$include"
stamp_content >"$stamp"
