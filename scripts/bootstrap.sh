#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test kestcam. Idempotent.
# Never adds the i386 architecture: wine64 alone runs the 64-bit Windows test build.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 wine64
  clang libclang-rt-14-dev
  zip unzip python3-pytest python3-numpy python3-venv python3-setuptools
  libcpp-httplib-dev libturbojpeg0-dev chromium python3-websocket
  libaravis-dev libusb-1.0-0-dev aravis-tools iproute2
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  python3-gi gir1.2-gstreamer-1.0 python3-opencv ffmpeg lintian
)

# The benchmarks also compare with OpenCV; only bench/run.sh asks for it.
if [ "${1:-}" = "--bench" ]; then
  packages+=(libopencv-core-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "bootstrap: everything is installed"
fi
