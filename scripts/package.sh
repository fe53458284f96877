#!/usr/bin/env bash
# Builds the packages into dist/, building only what they hold:
#   quorvel-extractor_VERSION_amd64.deb            the terminal program for Debian
#   quorvel-extractor-VERSION-linux-x86_64.tar.gz  the same installed tree, for other Linux systems
#   quorvel-extractor-VERSION-windows-x86_64.zip   the Windows programs (desktop and console), cross-built with MinGW-w64
#
#   scripts/package.sh [--linux-only | --windows-only]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
mkdir -p dist

# Release builds with nothing but the program and what is installed with it.
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)

package_linux() {
    local build=build/package-linux
    rm -f dist/quorvel-extractor_*.deb dist/quorvel-extractor-*-linux-*.tar.gz
    cmake -S . -B "$build" "${common[@]}" -DQUORVEL_DEBIAN_LAYOUT=ON >/dev/null
    cmake --build "$build" --parallel 2 --target quorvel-extractor quorvel_manual quorvel_changelog
    (cd "$build" && cpack -G "DEB;TGZ" >/dev/null)
}

package_windows() {
    local build=build/package-windows
    rm -f dist/quorvel-extractor-*-windows-*.zip
    # The sound libraries, linked into the exes: built once into the prefix
    # every Windows build of this tree reads (nothing to do when they are).
    scripts/build-windows-audio-libs.sh build/windows-audio >/dev/null
    cmake -S . -B "$build" "${common[@]}" --toolchain cmake/mingw-w64-x86_64.cmake \
        -DQUORVEL_AUDIO_PREFIX="$PWD/build/windows-audio" >/dev/null
    cmake --build "$build" --parallel 2 --target quorvel-extractor quorvel-extractor-cli
    (cd "$build" && cpack -G ZIP >/dev/null)
}

case ${1:-} in
--linux-only) package_linux ;;
--windows-only) package_windows ;;
"") package_linux && package_windows ;;
*) echo "usage: scripts/package.sh [--linux-only | --windows-only]" >&2 && exit 2 ;;
esac
rm -rf dist/_CPack_Packages
ls -l dist
