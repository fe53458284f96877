#!/usr/bin/env bash
# Builds the source the way packagers and users do, with every compiler and
# build type we support, and runs the unit tests of each build:
#   - g++ and clang++, each in Debug, Release and RelWithDebInfo, warnings as
#     errors: the terminal program and the unit tests, then `ctest -L unit`;
#   - the plain Release build exactly as a user types it, with each
#     compiler, as if GoogleTest were not installed: it must build the
#     program and say in one line that the tests are left out.
#
#   scripts/test-build-matrix.sh [BUILD_ROOT]   (default build/matrix)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
matrix=${1:-$root/build/matrix}
compilers=(g++ clang++)
build_types=(Debug Release RelWithDebInfo)
failed=()

# Runs a step with its output in LOG; shows the end of it when the step fails.
logged() {  # log command...
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log"
        return 1
    fi
}

strict_build() {  # compiler build-type
    local dir=$matrix/$1-$2
    mkdir -p "$dir"
    logged "$dir/configure.log" cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$1" \
        -DCMAKE_BUILD_TYPE="$2" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DQUORVEL_REQUIRE_TESTS=ON &&
        logged "$dir/build.log" cmake --build "$dir" --parallel 2 --target quorvel-extractor unit-tests &&
        logged "$dir/ctest.log" ctest --test-dir "$dir" -L unit --output-on-failure --parallel 2 &&
        grep -E "tests passed" "$dir/ctest.log"
}

plain_build_without_googletest() {  # compiler
    local dir=$matrix/$1-plain
    mkdir -p "$dir"
    logged "$dir/configure.log" env CXX="$1" cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON &&
        grep -F -- "-- GoogleTest not found" "$dir/configure.log" &&
        logged "$dir/build.log" cmake --build "$dir" --parallel 2 &&
        "$dir/terminal/quorvel-extractor" --version
}

for compiler in "${compilers[@]}"; do
    for build_type in "${build_types[@]}"; do
        echo "== $compiler, $build_type, warnings as errors"
        strict_build "$compiler" "$build_type" || failed+=("$compiler $build_type")
    done
    echo "== $compiler, plain Release build without GoogleTest"
    plain_build_without_googletest "$compiler" || failed+=("$compiler plain Release without GoogleTest")
done

if ((${#failed[@]} > 0)); then
    printf 'build matrix: failed: %s\n' "${failed[@]}"
    exit 1
fi
echo "build matrix: all $((${#compilers[@]} * (${#build_types[@]} + 1))) builds passed"
