#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each of them
# for a bounded time over a seed corpus made by the sample generator: small
# generated games, and the edge cases written as layouts in fuzz/seeds/
# (archives/ for whole archives, payloads/ for the bytes after a RIFF block's
# signature); the decoding of stored sounds starts from one sound of every
# WAV encoding, made by libsndfile (fuzz/make_sound_seeds.cpp). Fails on any
# finding (crash, sanitizer report, model mismatch, hang, runaway memory, or any single allocation of 32 MiB or more: no input
# of at most 200 KiB needs one, whatever lengths it declares); the input that
# caused it is kept in build/fuzz/findings/.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
work=$build/fuzz-run
corpus=$build/corpus
findings=$build/findings
seeds=$work/seeds
targets=(block_stream carving sound_decoding)

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}" quorvel-make-sample make_sound_seeds
generator=$build/tools/sample_game/quorvel-make-sample

rm -rf "$work"
mkdir -p "$seeds/block_stream" "$seeds/carving" "$seeds/sound_decoding" "$findings"

# Writes the file $1 as the layout text $2 says.
make_file() {
    "$generator" --sfx "$2" "$work/made" >/dev/null
    mv "$work/made/sfx.pak" "$1"
}

# Every seed starts with the targets' parameter bytes (fuzz_support.hpp: the
# run options and the block put in front; carving_fuzzer.cpp: the slice seed).
make_file "$work/whole_reads" 'raw bytes(5, 0)'
make_file "$work/small_reads" 'raw bytes(3, 0) bytes(1, 130) bytes(1, 0)'  # reads of 3 bytes
make_file "$work/at_boundary" 'raw bytes(4, 0) bytes(1, 199)'  # behind a block ending 7 bytes before 64 KiB
make_file "$work/carving" 'raw bytes(4, 0) bytes(1, 199) bytes(8, 0)'

# Three seeds for the archive file $2, named after $1.
add_archive() {
    for start in whole_reads small_reads at_boundary; do
        cat "$work/$start" "$2" >"$seeds/block_stream/$1_$start"
    done
}

for layout in fuzz/seeds/archives/*.layout; do
    make_file "$work/archive" "$(<"$layout")"
    add_archive "$(basename "$layout" .layout)" "$work/archive"
done
for seed in 1 2 3 4 5; do
    "$generator" --profile tiny --seed "$seed" "$work/tiny" >/dev/null
    add_archive "tiny${seed}_sfx" "$work/tiny/sfx.pak"
    add_archive "tiny${seed}_speech" "$work/tiny/speech.pak"
done
for layout in fuzz/seeds/payloads/*.layout; do
    make_file "$work/payload" "$(<"$layout")"
    cat "$work/carving" "$work/payload" >"$seeds/carving/$(basename "$layout" .layout)"
done
"$build/fuzz/make_sound_seeds" "$seeds/sound_decoding"
echo "seeds: $(ls "$seeds/block_stream" | wc -l) archives, $(ls "$seeds/carving" | wc -l) RIFF payloads," \
    "$(ls "$seeds/sound_decoding" | wc -l) sounds"

status=0
total=0
for target in "${targets[@]}"; do
    mkdir -p "$corpus/$target"
    log=$work/$target.log
    dictionary=fuzz/quorvel.dict
    [[ $target == sound_decoding ]] && dictionary=fuzz/sound.dict
    set +e
    "$build/fuzz/fuzz_$target" "$corpus/$target" "$seeds/$target" \
        -dict="$dictionary" -max_len=204800 -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=32 \
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
