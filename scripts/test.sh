#!/usr/bin/env bash
# Builds and tests everything; CI runs exactly this. Each suite runs even when an earlier one
# failed; the last line counts them, and the exit code is non-zero when any failed.
#   native        native build (Debug) and its CTest tests
#   native-asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   win32-exe     the shipping 32-bit QELDuzu.exe: kind, imports, resources
#   payload       the payload archive: contract paths, encryption, forbidden files; its Grub2
#                 menu and boot sector booted in QEMU
#   wine          the x86_64 build and its CTest tests under Wine
#   gui-smoke     the x86_64 program's window under Wine
#   gui-windows   the program's windows under Wine in both languages, against the designed layout
#   sevenzip      the carried 7-Zip run by the program under Wine in Vietnamese: extraction,
#                 Cancel in its progress window, a wrong password
#   boot          sticks made by the program's own runs on disk images, booted in QEMU (BIOS)
#   boot-uefi     the same sticks booted under UEFI, Secure Boot off and on
#   power-cut     the program's own runs on disk images cut at chosen writes (power lost), then
#                 run again: nothing outside the target changes, the drive recovers and boots
#   syslinux      the Windows Syslinux installers: built right, and run by the bootloader stage
#                 under Wine on a FAT32 volume (guestmount), which then boots in QEMU
#   wine-disk     the Windows layer's disk requests under Wine against a test disk driver serving
#                 a stick image; the image checked with Linux tools afterwards; the real program
#                 on a stick partitioned from sector 63, its prompt cancelled; its extraction run
#                 with "Format to FAT32" up to Wine's failing dismount; AutoPartition up to its
#                 volume search; its extraction run with the bootloader option, the stick then
#                 booted in QEMU
#   fuzz          the fuzz targets for a bounded time, when the project has any
# With suite names as arguments (scripts/test.sh wine gui-smoke), only those suites run.
set -uo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"
export MTOOLS_SKIP_CHECK=1
fuzz_seconds="${QEL_FUZZ_SECONDS:-60}"

passed=0
failed=0
failed_names=()
selected=("$@")
run_suite() {  # <name> <function>
  local name="$1" started=$SECONDS
  if ((${#selected[@]} > 0)) && [[ " ${selected[*]} " != *" $name "* ]]; then
    return 0
  fi
  echo "=== $name"
  # Not inside an "if": there, "set -e" would be ignored and a failed build could pass.
  (set -e; "$2")
  if (($? == 0)); then
    passed=$((passed + 1))
    echo "=== $name passed ($((SECONDS - started)) s)"
  else
    failed=$((failed + 1))
    failed_names+=("$name")
    echo "=== $name FAILED ($((SECONDS - started)) s)"
  fi
}

build_and_ctest() {  # <preset>
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

suite_native() { build_and_ctest native; }
suite_native_asan() { build_and_ctest native-asan; }

# The shipping program: a 32-bit GUI program that needs only system DLLs and carries the five
# resources byte for byte and its manifest.
suite_win32_exe() {
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
  scripts/check-exe.sh build-win32
}

suite_payload() {
  scripts/check-payload.sh build-win32/embedded/RAZEvor.7z
  tests/smoke/payload-boot.sh build-win32/embedded/RAZEvor.7z
}

suite_wine() {
  cmake --preset win64 >/dev/null
  cmake --build --preset win64
  scripts/wine-session.sh build-win64/wineprefix ctest --preset win64
}

suite_gui_smoke() {
  cmake --build --preset win64 --target QELDuzu inspect
  tests/smoke/gui-smoke.sh build-win64
}

suite_gui_windows() {
  cmake --build --preset win64 --target QELDuzu inspect gui-probe repartition-show
  tests/smoke/gui-windows.sh build-win64
}

suite_sevenzip() {
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target sevenzip-run
  tests/smoke/sevenzip-windows.sh build-win64
}

# The boot tests drive the native build's headless runner with the shipping payload.
suite_boot() {
  tests/boot/run-boot-tests.sh build-native build-win32/embedded/RAZEvor.7z
}
suite_boot_uefi() {
  tests/boot/run-uefi-tests.sh build-native build-win32/embedded/RAZEvor.7z
}
suite_power_cut() {
  tests/powercut/run-power-cut-tests.sh build-native build-win32/embedded/RAZEvor.7z
}

# The x86_64 payload's installer under Wine, and qel-headless's install for comparison.
suite_syslinux() {
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target bootloader-stage-run QELDuzu
  cmake --preset native >/dev/null
  cmake --build --preset native --target qel-headless
  tests/syslinux/run-syslinux-tests.sh build-win64 build-native
}

suite_wine_disk() {
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target winedisk-driver test_wine_disk QELDuzu gui-probe inspect
  tests/winedisk/run-wine-disk-tests.sh build-win64
}

suite_fuzz() {
  tests/fuzz/run.sh "$fuzz_seconds" "$repo/build-fuzz"
}

scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }
run_suite native suite_native
run_suite native-asan suite_native_asan
run_suite win32-exe suite_win32_exe
run_suite payload suite_payload
run_suite wine suite_wine
run_suite gui-smoke suite_gui_smoke
# Suites of other parts of the project, run when present.
optional_suite() {  # <name> <function> <script it needs>
  if [[ -x "$3" ]]; then run_suite "$1" "$2"; fi
}
optional_suite gui-windows suite_gui_windows tests/smoke/gui-windows.sh
optional_suite sevenzip suite_sevenzip tests/smoke/sevenzip-windows.sh
optional_suite boot suite_boot tests/boot/run-boot-tests.sh
optional_suite boot-uefi suite_boot_uefi tests/boot/run-uefi-tests.sh
optional_suite power-cut suite_power_cut tests/powercut/run-power-cut-tests.sh
optional_suite syslinux suite_syslinux tests/syslinux/run-syslinux-tests.sh
optional_suite wine-disk suite_wine_disk tests/winedisk/run-wine-disk-tests.sh
optional_suite fuzz suite_fuzz tests/fuzz/run.sh

((failed == 0)) || echo "failed suites: ${failed_names[*]}"
echo "$passed passed, $failed failed"
((failed == 0))
