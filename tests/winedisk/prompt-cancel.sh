# Sourced by run-wine-disk-tests.sh: the real QELDuzu.exe on a stick whose first partition starts
# at sector 63, through the test disk driver. "OK" with "Auto install Bootloader" ticked shows the
# repartition prompt; Cancel ends the run, and the image is byte for byte what it was.

# Clicks a control of a shown window with real input at its centre; false when it did not appear.
click_control() {  # <window title> <control caption>
  local x y window
  read -r x y < <("$WINELOADER" "$build/gui-probe.exe" "$1" "$2" 30 2>/dev/null | tr -d '\r') || return 1
  [[ -n "$x" ]] || return 1
  window="$(xdotool search --name "^$1\$" | head -n 1)"
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool mousemove --sync "$x" "$y" click 1
}

# Clicks "OK" on a warning that must name <text>, after photographing it.
answer_warning() {  # <text it must hold> <file name without extension>
  "$WINELOADER" "$build/inspect.exe" "Cảnh báo" 30 2>/dev/null | tr -d '\r' >"$2.txt" ||
    fail "no warning holding \"$1\" appeared"
  grep -qF "$1" "$2.txt" || fail "the warning does not hold \"$1\": $(cat "$2.txt")"
  import -window root "$2.png" 2>/dev/null && echo "screenshot: $2.png"
  click_control "Cảnh báo" OK || fail "no \"OK\" on the warning"
  local waited=0
  while "$WINELOADER" "$build/gui-probe.exe" "Cảnh báo" OK 1 >/dev/null 2>&1; do
    ((++waited < 20)) || fail "the warning stayed after OK"
  done
}

# Waits for the error dialog, photographs it, checks its message, answers OK and waits until the
# program has ended.
answer_final_error() {  # <message> <file name without extension> <seconds to wait>
  "$WINELOADER" "$build/inspect.exe" "Lỗi" "$3" 2>/dev/null | tr -d '\r' >"$2.txt" ||
    fail "no message \"$1\" appeared"
  import -window root "$2.png" 2>/dev/null && echo "screenshot: $2.png"
  grep -qF "$1" "$2.txt" || fail "the message is not \"$1\": $(cat "$2.txt")"
  click_control "Lỗi" OK || fail "no \"OK\" on the message"
  local waited=0
  while [[ -e /proc/$program_pid ]]; do
    ((waited++ < 300)) || fail "the program did not end after \"$1\""
    sleep 0.1
  done
  program_pid=""
}

check_prompt_cancel() {  # <work folder> <image> <counts file>
  local work="$1" image="$2" counts="$3" title="QEL Ruru Zudererod" warning="Cảnh báo"
  local writes_before
  # Another stick in the same image file: FAT32 from sector 63, as old partitioning tools left it.
  truncate -s 64M "$work/stick63.img"
  printf 'label: dos\nlabel-id: 0x63636363\nstart=63, type=c, bootable\n' |
    sfdisk -q "$work/stick63.img" >/dev/null
  mkfs.vfat -F 32 -n QELSTICK63 --offset 63 "$work/stick63.img" \
    $(((64 * 1024 * 1024 - 63 * 512) / 1024)) >/dev/null
  dd if="$work/stick63.img" of="$image" bs=1M conv=notrunc status=none
  writes_before=$(request_count write "$counts")

  "$WINELOADER" "$build/QELDuzu.exe" >"$work/program.log" 2>&1 &
  program_pid=$!  # global: the exit trap ends the program when a check fails
  trap 'kill "${program_pid:-}" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true' EXIT
  "$WINELOADER" "$build/gui-probe.exe" "$title" OK 60 >/dev/null 2>&1 || fail "the main window did not appear"
  "$WINELOADER" "$build/gui-probe.exe" --values "$title" 2>/dev/null | tr -d '\r' >"$work/main-values.txt"
  grep -q '^ComboBox "E:\\' "$work/main-values.txt" || fail "E: is not chosen: $(cat "$work/main-values.txt")"
  click_control "$title" OK || fail "no \"OK\" to click"
  "$WINELOADER" "$build/inspect.exe" "$warning" 30 2>/dev/null | tr -d '\r' >"$work/prompt.txt" ||
    fail "no repartition prompt appeared"
  grep -q '123 sector' "$work/prompt.txt" || fail "the prompt is not the repartition one: $(cat "$work/prompt.txt")"
  import -window root "$work/prompt-screen.png" 2>/dev/null && echo "screenshot: $work/prompt-screen.png"
  click_control "$warning" "Hủy bỏ" || fail "no Cancel on the prompt"
  local waited=0
  while "$WINELOADER" "$build/gui-probe.exe" "$warning" "Hủy bỏ" 1 >/dev/null 2>&1; do
    ((++waited < 20)) || fail "the prompt stayed after Cancel"
  done
  "$WINELOADER" "$build/gui-probe.exe" "$title" OK 10 >/dev/null 2>&1 ||
    fail "the main window did not stay after Cancel"
  kill "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=""

  cmp "$image" "$work/stick63.img" || fail "the sector-63 stick changed after Cancel"
  (($(request_count write "$counts") == writes_before)) || fail "the cancelled run wrote to the disk"
  echo "sector 63: the repartition prompt was shown, Cancel left the stick byte-identical"
  echo "requests the driver saw, both runs:"
  grep -v ' 0$' "$counts" | sed 's/^/  /'
}
