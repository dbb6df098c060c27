#!/usr/bin/env bash
# Installs every Debian package Tovrika builds, runs and tests with.
# Idempotent and non-interactive: packages already present are skipped.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6 and coroutines
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-multimedia-dev qt6-tools-dev-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libqt6svg6 qcoro-qt6-dev libgl-dev libxkbcommon-dev
  # media
  libavformat-dev libavcodec-dev libavdevice-dev libavfilter-dev libavutil-dev
  libswscale-dev libswresample-dev ffmpeg
  # X11, audio, credentials, text recognition
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-randr0-dev libxcb-keysyms1-dev
  libxcb-xtest0-dev libx11-dev libpulse-dev libsecret-1-dev
  libtesseract-dev libleptonica-dev tesseract-ocr-eng
  # reference service
  libcpp-httplib-dev libsqlite3-dev libssl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb x11-xserver-utils xdotool xclip dbus dbus-x11 dunst gnome-keyring libsecret-tools
  pulseaudio pulseaudio-utils libnotify-bin fonts-dejavu-core xdg-utils procps curl bc openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
