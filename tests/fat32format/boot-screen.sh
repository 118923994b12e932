#!/usr/bin/env bash
# Starts a PC emulator from a disk image and saves its text screen (character and attribute
# bytes, 80×25) to a file once the screen shows the given words, or after 30 seconds.
#   boot-screen.sh IMAGE SCREEN-FILE WORDS
set -uo pipefail
image="$1" screen="$2" words="$3"
# The words as they lie in video memory: each character followed by its attribute byte.
pattern="$(printf '%s' "$words" | sed 's/./&./g')"
rm -f "$screen"
{
    for ((i = 0; i < 60; ++i)); do
        sleep 0.5
        echo "pmemsave 0xb8000 4000 \"$screen\""
        sleep 0.1
        grep -aq -- "$pattern" "$screen" 2>/dev/null && break
    done
    echo quit
} | timeout 60 qemu-system-i386 -machine pc -accel tcg -m 32 -display none -vga std \
    -drive "file=$image,format=raw,if=ide,index=0,snapshot=on" -boot c -no-reboot -nic none \
    -monitor stdio >/dev/null 2>&1
[[ -f "$screen" ]]
