#!/usr/bin/env bash
# Builds the Windows programs with the MinGW-w64 cross compiler and runs all
# of their tests under Wine, inside one Xvfb session: the core's unit tests,
# the Windows file layer's tests, the GUI tests of quorvel-extractor.exe and
# the console program quorvel-extractor-cli.exe against the terminal program.
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
require unzip command -v unzip
require binutils command -v strings
# The sound libraries: Debian's on Linux, built from Debian's sources for
# Windows (scripts/build-windows-audio-libs.sh, which fetches with apt).
require pkg-config command -v pkg-config
require libsndfile1-dev pkg-config --exists sndfile
require libsoxr-dev pkg-config --exists soxr
require libebur128-dev pkg-config --exists libebur128
require libkissfft-dev pkg-config --exists kissfft-float
require dpkg-dev command -v dpkg-source
require make command -v make
if ((${#missing[@]} > 0)); then
    echo "test-windows: missing tools; install them with:" >&2
    echo "  apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 2
fi

# The terminal program (the reference output), the sample game generator
# and the Linux build's decodes.
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target quorvel-extractor quorvel-make-sample quorvel-sound-check

# The sound libraries for Windows, into the prefix the windows preset reads:
# built once (about 4 minutes on 2 cores), then left as they are.
scripts/build-windows-audio-libs.sh "$root/build/windows-audio"

# The Windows programs. Only these targets: they are what runs under Wine.
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target quorvel-extractor quorvel-extractor-cli quorvel-gui-driver \
    quorvel_progress_tests quorvel_extract_tests quorvel_app_tests quorvel_win32_tests quorvel_terminal_tests \
    quorvel_audio_tests quorvel-sound-check \
    $(cmake --build --preset windows --target help | grep -q '^quorvel_studio_tests:' && echo quorvel_studio_tests)

# The zip as a user gets it, unpacked into a fresh folder: its exes are run
# under Wine too, and must carry the project's version.
scripts/package.sh --windows-only >/dev/null
version=$(sed -n 's/^project(quorvel-extractor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
unpacked=$root/build/windows/unpacked-zip
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "dist/quorvel-extractor-$version-windows-x86_64.zip" -d "$unpacked"
# The sound libraries linked into the exes: each one's terms travel with them.
for library in libogg libvorbis flac opus mpg123 lame libsndfile libsoxr libebur128 kissfft; do
    terms=$unpacked/quorvel-extractor-$version-windows-x86_64/licenses/$library/copyright
    if [[ ! -s $terms ]] || ! grep -qi 'licen[cs]e' "$terms"; then
        echo "test-windows: the zip holds no licence of $library (licenses/$library/copyright)" >&2
        exit 1
    fi
done
echo "ok: the zip holds the copyright and licences of the sound libraries linked into its exes"
packaged_exe=$unpacked/quorvel-extractor-$version-windows-x86_64/quorvel-extractor.exe
packaged_cli=$unpacked/quorvel-extractor-$version-windows-x86_64/quorvel-extractor-cli.exe
for packaged in "$packaged_exe" "$packaged_cli"; do
    name=$(basename "$packaged")
    resource=$(strings -el "$packaged" |
        grep -A1 -E '^(FileVersion|ProductVersion|ProductName|OriginalFilename)$' | tr '\n' ' ')
    if [[ $resource != *"FileVersion $version "* || $resource != *"ProductVersion $version "* ||
        $resource != *"ProductName Quorvel Extractor "* || $resource != *"OriginalFilename $name "* ]]; then
        echo "test-windows: the version resource of $name does not say version $version: $resource" >&2
        exit 1
    fi
    echo "ok: the version resource of the packaged $name says Quorvel Extractor $version"
done

# Each exe ships alone: it may import the system's own DLLs, never a
# runtime's or a library's.
system_dlls='@(kernel32|msvcrt|user32|gdi32|comctl32|ole32|shell32|shlwapi|advapi32|bcrypt|mswsock|ws2_32).dll'
for exe in "$packaged_exe" "$packaged_cli" build/windows/audio/quorvel-sound-check.exe; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
        # shellcheck disable=SC2053 # a pattern, on purpose
        if [[ ${dll,,} != $system_dlls ]]; then
            echo "test-windows: $(basename "$exe") needs $dll, which no Windows system has" >&2
            exit 1
        fi
    done
    echo "ok: $(basename "$exe") imports only the system's DLLs"
done

export QUORVEL_ROOT=$root
export QUORVEL_WINDOWS_BUILD=$root/build/windows
export QUORVEL_NATIVE_BUILD=$root/build/default
export QUORVEL_PACKAGED_EXE=$packaged_exe
export QUORVEL_PACKAGED_CLI=$packaged_cli
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$root/windows/tests/run-under-wine.sh" </dev/null
