#!/usr/bin/env bash
# Installs every package the build and the tests need on Debian 12. Idempotent, and quick when
# everything is present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev clang-format
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 fonts-wine xvfb xauth xdotool x11-utils imagemagick
  7zip grub-pc-bin grub-common syslinux syslinux-common nasm mtools dosfstools fdisk ntfs-3g
  exfatprogs qemu-system-x86 ovmf python3 fonts-liberation2 libguestfs-tools
  make dpkg-dev locales fonts-dejavu-core
)
# Installed without its recommendations, which would bring shim and efibootmgr along.
bare_packages=(grub-efi-amd64-bin)

# Prints the packages of the arguments that are not installed.
missing_of() {
  local package
  for package in "$@"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
      echo "$package"
    fi
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_bare < <(missing_of "${bare_packages[@]}")

if ((${#missing[@]} == 0 && ${#missing_bare[@]} == 0)); then
  exit 0
fi

sudo_if_needed=()
if ((EUID != 0)); then
  sudo_if_needed=(sudo)
fi
echo "setup: installing ${missing[*]} ${missing_bare[*]}"
"${sudo_if_needed[@]}" apt-get update -qq
export DEBIAN_FRONTEND=noninteractive
if ((${#missing[@]} > 0)); then
  "${sudo_if_needed[@]}" apt-get install -y -qq "${missing[@]}"
fi
if ((${#missing_bare[@]} > 0)); then
  "${sudo_if_needed[@]}" apt-get install -y -qq --no-install-recommends "${missing_bare[@]}"
fi
