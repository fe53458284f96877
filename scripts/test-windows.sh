#!/usr/bin/env bash
# Builds the Windows program with the MinGW-w64 cross compiler and runs all of
# its tests under Wine, inside one Xvfb session: the core's unit tests, the
# Windows file layer's tests and the GUI tests of quorvel-extractor.exe.
#
#   scripts/test-windows.sh
#
# Exits non-zero, naming the Debian package to install, when a tool is
# missing; whether to skip these tests then is the caller's decision.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

missing=()
require() {  # require PACKAGE TEST...: the package provides what the test finds
    local package=$1
    shift
    if ! "$@" >/dev/null 2>&1; then
        missing+=("$package")
    fi
}
require cmake command -v cmake
require ninja-build command -v ninja
require g++ command -v g++
require googletest test -f /usr/src/googletest/CMakeLists.txt
require g++-mingw-w64-x86-64-posix command -v x86_64-w64-mingw32-g++-posix
require wine command -v wine
require wine64 test -x /usr/lib/wine/wine64
require fonts-wine test -d /usr/share/wine/fonts
require xvfb command -v Xvfb
require xauth command -v xauth
require imagemagick test -x /usr/bin/import
if ((${#missing[@]} > 0)); then
    echo "test-windows: missing tools; install them with:" >&2
    echo "  apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 2
fi

# The terminal program (the reference output) and the sample game generator.
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target quorvel-extractor quorvel-make-sample

# The Windows programs. Only these targets: they are what runs under Wine.
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target quorvel-extractor quorvel-gui-driver quorvel_core_tests quorvel_win32_tests

export QUORVEL_ROOT=$root
export QUORVEL_WINDOWS_BUILD=$root/build/windows
export QUORVEL_NATIVE_BUILD=$root/build/default
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$root/windows/tests/run-under-wine.sh" </dev/null
