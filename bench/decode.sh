#!/usr/bin/env bash
# Decoding stored sounds: bench/decode.sh [--quick] [--data FOLDER]
# Builds the decoding benchmark (default preset), makes a realistic game of
# 1 GiB (64 MiB with --quick) in every encoding into FOLDER (default
# build/bench-data; kept for the next run), and measures every encoding's
# decoding speed in multiples of real time on one core, and the time to the
# first and to the last 64 KiB of the decoded WAV of each encoding's longest
# sound in that game. Writes bench/results/decode/ (quick runs:
# bench/results/quick/decode/): decode.json (Google Benchmark's) and
# results.md.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="$repo/build/bench-data"
size=1G
results="$repo/bench/results/decode"
min_time=1
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) size=64M; results="$repo/bench/results/quick/decode"; min_time=0.2 ;;
        --data) data="$2"; shift ;;
        *) echo "decode.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
    shift
done
cd "$repo"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target quorvel_decode_bench quorvel-make-sample
build=$repo/build/default
game=$data/decode-game-$size
if [[ ! -f $game/speech.pak ]]; then
    echo "decode.sh: making a game of $size in $game"
    rm -rf "$game"
    mkdir -p "$data"
    "$build/tools/sample_game/quorvel-make-sample" --profile game --size "$size" "$game" >/dev/null
fi
mkdir -p "$results"
# One core, as the figures promise.
QUORVEL_BENCH_GAME=$game taskset -c 0 "$build/bench/quorvel_decode_bench" --benchmark_min_time="$min_time" \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/decode.json" --benchmark_out_format=json
python3 - "$results/decode.json" "$size" >"$results/results.md" <<'PYTHON'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"]
print("# Decoding stored sounds\n")
print("Medians of 3 repetitions, one core. A decoded WAV read front to back in 64 KiB pieces, in seconds of sound"
      " per second of the thread's CPU time (on a shared machine, wall time is longer by its load):\n")
print("| encoding | x real time | MB/s of WAV |")
print("|---|---:|---:|")
for run in runs:
    if run["run_name"].startswith("BM_DecodedWav/"):
        print(f"| {run['run_name'].split('/')[1]} | {run['x_realtime']:.0f} | {run['bytes_per_second'] / 1e6:.0f} |")
print(f"\nThe first and the last 64 KiB of the decoded WAV of each encoding's longest sound in a game of {sys.argv[2]}"
      " (opened and listed once), from nothing open but the game:\n")
print("| encoding | sound | first 64 KiB (ms) | last 64 KiB (ms) |")
print("|---|---|---:|---:|")
first = {r["run_name"].split("/")[1]: r for r in runs if r["run_name"].startswith("BM_GameSoundFirstByte/")}
last = {r["run_name"].split("/")[1]: r for r in runs if r["run_name"].startswith("BM_GameSoundLastRange/")}
for name, run in first.items():
    print(f"| {name} | {run.get('label', '')} | {run['real_time']:.2f} | {last[name]['real_time']:.2f} |")
PYTHON
echo "Results: $results/results.md"
