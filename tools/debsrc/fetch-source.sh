#!/usr/bin/env bash
# Fetches one Debian source package of an exact version from the archives this machine's apt
# already uses, checks its .dsc against a pinned SHA-256 (dpkg-source then checks every tarball
# against the .dsc) and unpacks it. The system's apt state is left alone: a private apt
# configuration under the cache folder lists the deb-src lines.
#   fetch-source.sh <package> <version> <dsc sha256> <cache dir> <unpack dir>
# The unpack dir is made anew; the downloaded files stay in the cache dir for the next build.
set -euo pipefail
if (($# != 5)); then
  echo "usage: $0 <package> <version> <dsc sha256> <cache dir> <unpack dir>" >&2
  exit 64
fi
package="$1" version="$2" dsc_sha256="$3" cache="$4" unpack="$5"
upstream_version="${version#*:}"
dsc="$cache/${package}_${upstream_version}.dsc"

dsc_is_pinned() { [[ -f "$dsc" ]] && echo "$dsc_sha256  $dsc" | sha256sum -c --status; }

# Every archive and suite of the system's own sources, as deb-src lines (deb822 and one-line
# formats).
source_lines() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [[ -f "$file" ]] || continue
    case "$file" in
      *.sources)
        awk -v RS= '/(^|\n)Types:[^\n]*deb/ {
            uris = ""; suites = ""; comps = ""; key = ""
            n = split($0, lines, "\n")
            for (i = 1; i <= n; i++) {
              if (lines[i] ~ /^URIs:/) { uris = lines[i]; sub(/^URIs:[ \t]*/, "", uris) }
              if (lines[i] ~ /^Suites:/) { suites = lines[i]; sub(/^Suites:[ \t]*/, "", suites) }
              if (lines[i] ~ /^Components:/) { comps = lines[i]; sub(/^Components:[ \t]*/, "", comps) }
              if (lines[i] ~ /^Signed-By:/) { key = lines[i]; sub(/^Signed-By:[ \t]*/, "", key) }
            }
            nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
            for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++)
              printf "deb-src %s %s %s %s\n", (key == "" ? "" : "[signed-by=" key "]"), u[a], s[b], comps
          }' "$file"
        ;;
      *) sed -n 's/^deb \(.*\)$/deb-src \1/p' "$file" ;;
    esac
  done
}

if ! dsc_is_pinned; then
  state="$cache/apt"
  mkdir -p "$state/lists/partial" "$state/archives/partial"
  source_lines | sort -u >"$state/sources.list"
  apt_options=(-o "Dir::State=$state" -o "Dir::State::Lists=$state/lists"
    -o "Dir::Cache=$state" -o "Dir::Cache::Archives=$state/archives"
    -o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" -qq update
  (cd "$cache" && apt-get "${apt_options[@]}" -qq source --download-only "$package=$version")
  if ! dsc_is_pinned; then
    echo "fetch-source: $dsc does not have the pinned SHA-256 $dsc_sha256" >&2
    exit 1
  fi
fi

rm -rf "$unpack"
mkdir -p "$(dirname "$unpack")"
# The archive's signing keys are not this machine's keyring: the pinned .dsc is the trust anchor,
# so dpkg-source's signature warning is shown only when unpacking fails.
if ! output=$(dpkg-source --require-strong-checksums -x "$dsc" "$unpack" 2>&1); then
  echo "$output" >&2
  exit 1
fi
