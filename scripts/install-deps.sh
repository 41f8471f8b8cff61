#!/usr/bin/env bash
# Installs, with apt-get, every Debian package that building, testing and
# running Quillmore needs and that is not installed yet.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
  libblkid-dev libudev-dev
  dosfstools mtools ntfs-3g sleuthkit testdisk
  python3 xxd zstd imagemagick
  ffmpeg
  libgsf-bin
  libewf-dev libvmdk-dev libvhdi-dev libqcow-dev ewf-tools qemu-utils gddrescue
  bc time
  gpg openssl
  zlib1g-dev fdisk
  qt6-base-dev xvfb x11-apps
  7zip ghostscript libimage-exiftool-perl
  exfatprogs exfat-fuse
  libunistring-dev
  clang libfuzzer-14-dev
  bash-completion
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
