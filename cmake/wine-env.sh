# Sourced by the Wine scripts: the environment for running the x86_64 Windows programs under
# 64-bit Wine with a prefix of the build. Expects QEL_WINEPREFIX to name the prefix folder.
export WINEARCH=win64
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX="${QEL_WINEPREFIX:?QEL_WINEPREFIX must name the Wine prefix folder}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
