#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for Kvendar, builds it and either starts it or runs the tests.
#   ./kvendar.sh run    install what is missing, build, start the program with the shipped catalogue
#   ./kvendar.sh test   install what is missing, build, run the whole test suite headless
#   ./kvendar.sh package  install what is missing, build, make the Debian packages in $BUILD_DIR/packages
# Environment: BUILD_DIR (default build), CMAKE_ARGS (extra configure arguments).
set -euo pipefail

cd "$(dirname "$0")"
mode=${1:-}
case "$mode" in
  run | test | package) ;;
  *)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac

# qt6-charts-dev does not pull in the OpenGL module's CMake files, which its own CMake package needs.
packages=(cmake make g++ clang libclang-rt-dev qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libjpeg-dev
  libgl-dev fontconfig fonts-dejavu-core xvfb xdotool x11-utils python3 imagemagick poppler-utils
  qt6-charts-dev libqt6opengl6-dev libreoffice-writer-nogui pkg-config libxlsxwriter-dev libreadstat-dev readstat
  python3-openpyxl pspp r-cran-readxl desktop-file-utils appstream lintian dpkg-dev fakeroot file r-cran-bradleyterry2)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$(nproc)"

if [ "$mode" = run ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "kvendar: no graphical display (DISPLAY is not set); start it from a desktop session." >&2
    exit 1
  fi
  exec "$build_dir/bin/kvendar32"
fi

if [ "$mode" = package ]; then
  rm -f "$build_dir"/packages/*.deb
  (cd "$build_dir" && cpack -G DEB)
  ls "$build_dir"/packages/*.deb
  exit 0
fi

ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
