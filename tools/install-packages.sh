#!/usr/bin/env bash
# Installs the Debian packages that building and testing Parvelo need.
# Idempotent: does nothing when every package is already installed.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

packages=(
  # cross build of parvelo.exe and x264vfw.dll, native unit tests
  mingw-w64 g++-mingw-w64-i686-posix cmake make nasm g++ libgtest-dev dpkg-dev zip
  # the same programs for x86_64 and 64-bit Wine, tested where 32-bit code
  # cannot run, with the same libraries as the 32-bit side below
  g++-mingw-w64-x86-64-posix wine64 libgl1 libglx-mesa0 libgl1-mesa-dri libxrandr2 libxrender1
  libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1
  # Wine and what its 32-bit side needs on a headless display: OpenGL for
  # Direct3D, the X extensions for display modes and pointers, fonts, sound
  wine wine32:i386 libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386
  libxrandr2:i386 libxrender1:i386 libxi6:i386 libxcursor1:i386 libxinerama1:i386
  libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386 libfontconfig1:i386
  libpulse0:i386 libasound2:i386
  # the test display: X server, window manager, tray host, input, screenshots
  xvfb openbox trayer xdotool x11-utils imagemagick
  # judging recordings and feeding the fake microphone
  ffmpeg sox pulseaudio pulseaudio-utils
  # the clapperboard that measures sound against picture
  libx11-dev libpulse-dev
  # players that open the recordings as users do: VLC, GStreamer's playbin
  vlc-bin vlc-plugin-base gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  # fonts for the dialog's Chinese captions: a Ming face with SimSun's metrics
  fonts-arphic-uming
  # end-to-end test scripts
  python3
  # making and entering the Debian 13 root with Wine 10 (tools/debian13-root.sh)
  debootstrap bubblewrap
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt_update
apt_install "${missing[@]}"
