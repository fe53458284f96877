#!/usr/bin/env bash
# Finding a sound by ear: bench/find.sh [--quick] [--data FOLDER]
# Builds quorvel-find-bench (default preset), makes a realistic game of
# 64 MiB (16 MiB with --quick) into FOLDER (default build/bench-data; kept
# for the next run), and measures, for 40 clips a row (10 with --quick),
# how often a clip of 1, 2 or 5 s cut at random from its sounds, or a
# whole sound of 0.2 to 0.5 s, degraded once (white noise or another sound
# under it at 10, 5 and 0 dB SNR, MP3 at 64 kbit/s, 16 kHz, +12 and -12 dB,
# a little reverberation) gets a right answer first, the error of the place
# given, the matches found for clips of sounds not in the game, the
# fingerprinting speed and the search time in an index of 10 hours; beside
# each row, fpcalc's figures for the same clips when it is installed
# (Debian: libchromaprint-tools). Writes bench/results/find/results.md
# (quick runs: bench/results/quick/find/). The clips are drawn with seed
# 2026; tune on other games and seeds (quorvel-make-sample --seed 7, 8, 9,
# and quorvel-find-bench --no-peer --misses GAME CLIPS SEED), never on these.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="$repo/build/bench-data"
size=64M
clips=40
results="$repo/bench/results/find"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) size=16M; clips=10; results="$repo/bench/results/quick/find" ;;
        --data) data="$2"; shift ;;
        *) echo "find.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
    shift
done
cd "$repo"
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target quorvel-find-bench quorvel-make-sample
build=$repo/build/default
game=$data/find-game-$size
if [[ ! -f $game/speech.pak ]]; then
    echo "find.sh: making a game of $size in $game"
    rm -rf "$game"
    mkdir -p "$data"
    "$build/tools/sample_game/quorvel-make-sample" --profile game --size "$size" "$game" >/dev/null
fi
mkdir -p "$results"
# One core, as the figures promise.
taskset -c 0 "$build/bench/quorvel-find-bench" "$game" "$clips" >"$results/results.md"
cat "$results/results.md"
