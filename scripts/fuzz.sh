#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each of them
# for a bounded time over a seed corpus made by the sample generator and by
# fuzz/make_seeds.py. Fails on any finding (crash, sanitizer report, model
# mismatch, hang, runaway memory, or any single allocation of 32 MiB or more:
# no input of at most 200 KiB needs one, whatever lengths it declares); the
# input that caused it is kept in build/fuzz/findings/.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
work=$build/fuzz-run
corpus=$build/corpus
findings=$build/findings
targets=(block_stream carving)

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

# Seeds: a few small game folders from the project's generator, if it can
# be built, plus the hand-written edge cases.
rm -rf "$work"
mkdir -p "$work/games" "$findings"
generator=""
for candidate in "$build/tools/sample_game/quorvel-make-sample" "$root/build/default/tools/sample_game/quorvel-make-sample"; do
    if [[ -x $candidate ]]; then
        generator=$candidate
        break
    fi
done
if [[ -z $generator ]] && cmake --build --preset fuzz --target quorvel-make-sample >/dev/null 2>&1; then
    generator=$build/tools/sample_game/quorvel-make-sample
fi
games=()
if [[ -n $generator ]]; then
    for seed in 1 2 3 4 5; do
        "$generator" --profile tiny --seed "$seed" "$work/games/tiny$seed" >/dev/null
        games+=("$work/games/tiny$seed")
    done
else
    echo "fuzz.sh: the sample generator is not available; seeding with the hand-written cases only" >&2
fi
python3 fuzz/make_seeds.py "$work/seeds" "${games[@]}"

status=0
total=0
for target in "${targets[@]}"; do
    mkdir -p "$corpus/$target"
    log=$work/$target.log
    set +e
    "$build/fuzz/fuzz_$target" "$corpus/$target" "$work/seeds/$target" \
        -dict=fuzz/quorvel.dict -max_len=204800 -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=32 \
        -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" >"$log" 2>&1
    result=$?
    set -e
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    inputs=$(ls "$corpus/$target" | wc -l)
    echo "fuzz_$target: ${executions:-0} executions in ${seconds} s, corpus of $inputs inputs, exit $result"
    total=$((total + ${executions:-0}))
    if [[ $result -ne 0 ]]; then
        echo "fuzz_$target: FINDING; the log says:" >&2
        grep -E "FINDING|ERROR|SUMMARY|runtime error|Test unit written" "$log" >&2 || tail -n 40 "$log" >&2
        status=1
    fi
done
echo "fuzz: $total executions in all"
exit $status
