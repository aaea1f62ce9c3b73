#!/bin/sh
# Set-up and everyday commands for a Debian 12 machine.
#
#   ./dev.sh run      build TolvPack and start it
#   ./dev.sh test     build everything and run every test (the package's checks,
#                     and the Windows build's tests under Wine, too)
#   ./dev.sh fuzz [MINUTES] [TARGET...]
#                     run every fuzz target (or those named) MINUTES each
#                     (default 10), one after another under nice, and merge
#                     what they find into the corpora under fuzz/corpus
#   ./dev.sh package  build the programs and make build/tolvpack_VERSION_ARCH.deb
#   ./dev.sh windows  cross-build tolv.exe and the window TolvPack.exe for
#                     Windows (build-windows/bin), the installer and the
#                     portable zip (build-windows)
#
# Missing Debian packages are installed first (with sudo when not root); on a
# machine that has them all, the build starts at once.
set -eu
cd "$(dirname "$0")"

BUILD_PACKAGES="build-essential cmake ninja-build pkg-config libusb-1.0-0-dev qt6-base-dev libgl-dev fonts-dejavu-core umockdev libumockdev-dev"
TEST_PACKAGES="clang-format libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev lhasa jlha-utils"
PACKAGE_PACKAGES="dpkg-dev"
PACKAGE_CHECK_PACKAGES="lintian desktop-file-utils appstream man-db bash-completion"
# mingw-w64 with the POSIX thread model (std::thread), GoogleTest's sources
# for the Windows tests; rsvg-convert and ImageMagick for the window's icon,
# wixl for the installer. Wine (and its fonts, for the window frames' buttons)
# to run the tests, and a virtual screen (Xvfb) for the window's.
WINDOWS_PACKAGES="cmake ninja-build make g++-mingw-w64-x86-64-posix googletest librsvg2-bin imagemagick wixl"
WINE_PACKAGES="wine wine64 fonts-wine xvfb xdotool"

missing_packages() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || printf '%s ' "$p"
  done
}

install_packages() {
  missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "Installing missing Debian packages: $missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

case "${1:-}" in
  run)
    install_packages $BUILD_PACKAGES
    make run
    ;;
  test)
    install_packages $BUILD_PACKAGES $TEST_PACKAGES $PACKAGE_PACKAGES $PACKAGE_CHECK_PACKAGES \
      $WINDOWS_PACKAGES $WINE_PACKAGES
    make test
    ;;
  package)
    # The test packages too: configuring the build folder looks for them.
    install_packages $BUILD_PACKAGES $TEST_PACKAGES $PACKAGE_PACKAGES
    make package
    ;;
  fuzz)
    install_packages $BUILD_PACKAGES $TEST_PACKAGES
    shift
    minutes="${1:-10}"
    [ $# -gt 0 ] && shift
    make fuzz-long FUZZ_MINUTES="$minutes" FUZZ_TARGETS="$*"
    ;;
  windows)
    install_packages $WINDOWS_PACKAGES $WINE_PACKAGES
    make windows
    echo "Built $(pwd)/build-windows/bin/tolv.exe and TolvPack.exe,"
    echo "      $(pwd)/build-windows/tolvpack-*-x64.msi and tolvpack-*-windows-x64.zip"
    ;;
  *)
    echo "usage: ./dev.sh run | test | package | windows | fuzz [MINUTES] [TARGET...]" >&2
    exit 2
    ;;
esac
