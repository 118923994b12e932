# Sourced by the boot scripts: finds qel-headless in a native build folder and the payload
# archive, setting $headless and $payload, or ends the script with exit code 2.
#   locate_tools <build dir> [payload archive]
# The payload is the second argument, else $QEL_PAYLOAD, else <build dir>/payload/RAZEvor.7z
# (where a Windows build makes it).
locate_tools() {
  local build="$1"
  headless="$build/tools/imagemachine/qel-headless"
  payload="${2:-${QEL_PAYLOAD:-$build/payload/RAZEvor.7z}}"
  if [[ ! -x "$headless" ]]; then
    echo "$(basename "$0"): no qel-headless in $build" \
      "(cmake --build $build --target qel-headless)" >&2
    exit 2
  fi
  if [[ ! -f "$payload" ]]; then
    echo "$(basename "$0"): no payload archive at $payload" \
      "(give it as an argument or in QEL_PAYLOAD)" >&2
    exit 2
  fi
  payload="$(realpath "$payload")"
}

# Runs one of the Python test drivers over qel-headless with the arguments a launcher was given:
#   run_headless_tests <driver.py> <work folder name> <build dir> [payload archive] [name]...
# The work folder is made in the build folder; names after the payload go to the driver.
run_headless_tests() {
  local driver="$1" work="$2"
  shift 2
  local build
  build="$(realpath "${1:?usage: $(basename "$0") <build dir> [payload archive] [name]...}")"
  shift
  local given_payload=""
  if [[ $# -gt 0 && "$1" == *.7z ]]; then
    given_payload="$1"
    shift
  fi
  locate_tools "$build" "$given_payload"
  exec python3 -B "$driver" --headless "$headless" --payload "$payload" --work "$build/$work" "$@"
}
