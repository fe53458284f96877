#!/usr/bin/env bash
# Runs every test of the project, as CI does:
#   1. the optimised build's tests (unit, end-to-end, fault injection),
#   2. plain source builds with g++ and clang++ in every build type, warnings
#      as errors, each running the unit tests, and without GoogleTest,
#   3. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   4. the Windows programs (desktop and console), cross-built and tested
#      under Wine in Xvfb,
#   5. the fuzzers, for a bounded time each (QUORVEL_FUZZ_SECONDS, default 60),
#   6. the Linux packages and the manual page, installed and run.
# Outside CI, a suite whose tools are not installed is skipped with a note
# naming the packages; with CI=true nothing is skipped.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
passed=0
failed=0
skipped=()

note() { printf '\n=== %s\n' "$*"; }

run_suite() {  # name, command...
    local name=$1
    shift
    note "$name"
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "*** $name failed"
        failed=$((failed + 1))
    fi
}

missing_tools() {  # tool:package ... -> the packages of the missing tools
    local pair packages=()
    for pair in "$@"; do
        command -v "${pair%%:*}" >/dev/null 2>&1 || packages+=("${pair#*:}")
    done
    echo "${packages[*]}"
}

optional_suite() {  # name, "tool:package ...", command...
    local name=$1 needs=$2
    shift 2
    # shellcheck disable=SC2086
    local packages
    packages=$(missing_tools $needs)
    if [[ -n $packages ]]; then
        if [[ ${CI:-} == true ]]; then
            note "$name"
            echo "*** $name cannot run: install the Debian packages: $packages"
            failed=$((failed + 1))
        else
            skipped+=("$name (install: $packages)")
        fi
        return
    fi
    run_suite "$name" "$@"
}

preset_suite() {  # preset
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
}

packages=$(missing_tools cmake:cmake ninja:ninja-build g++:g++)
if [[ -n $packages ]] || [[ ! -e /usr/include/gtest/gtest.h ]]; then
    echo "Install the Debian packages: $packages googletest libgtest-dev" >&2
    exit 1
fi

run_suite "tests (optimised build)" preset_suite default
optional_suite "builds with g++ and clang++ in Debug, Release and RelWithDebInfo" "clang++:clang" \
    scripts/test-build-matrix.sh
run_suite "tests under AddressSanitizer + UndefinedBehaviorSanitizer" preset_suite asan
optional_suite "Windows programs under Wine" \
    "x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix wine:wine Xvfb:xvfb xauth:xauth" \
    scripts/test-windows.sh
optional_suite "fuzzers" "clang++:clang" scripts/fuzz.sh "${QUORVEL_FUZZ_SECONDS:-60}"
optional_suite "packages and manual page" \
    "mandoc:mandoc lintian:lintian dpkg-shlibdeps:dpkg-dev man:man-db" scripts/test-packages.sh

echo
for suite in "${skipped[@]}"; do
    echo "skipped: $suite"
done
echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
