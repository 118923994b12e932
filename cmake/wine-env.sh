# Sourced by the Wine scripts: the environment for running the x86_64 Windows programs under
# 64-bit Wine with a prefix of the build. Expects QEL_WINEPREFIX to name the prefix folder.
export WINEARCH=win64
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX="${QEL_WINEPREFIX:?QEL_WINEPREFIX must name the Wine prefix folder}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Imports a registry file into the prefix and leaves a new wineserver running for the caller's
# session: drive types and font substitutes are read only when a wineserver starts. The caller
# ends it (wineserver -k) when its session ends.
wine_import_registry_and_restart() {  # <.reg file>
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
  local output
  if ! output="$("$WINELOADER" regedit /S "$1" 2>&1)"; then
    echo "wine-env.sh: regedit could not import $1 into $WINEPREFIX:" >&2
    printf '%s\n' "$output" >&2
    return 1
  fi
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
  "$WINESERVER" -p
}
