#!/usr/bin/env bash
# The studio's benchmarks: bench/studio.sh [--quick] [--data FOLDER]
# Builds the default preset, then runs bench/studio_bench.py (headless
# Chromium from Debian: chromium, chromium-driver, python3-selenium) and
# writes bench/results/studio/ (quick runs: bench/results/quick/studio/).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="$repo/build/bench-data"
quick=""
results="$repo/bench/results/studio"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) quick="--quick"; results="$repo/bench/results/quick/studio" ;;
        --data) data="$2"; shift ;;
        *) echo "studio.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
    shift
done
cd "$repo"
cmake --preset default > /dev/null
cmake --build --preset default -j2 --target quorvel-extractor quorvel-make-sample
/usr/bin/python3 bench/studio_bench.py build/default/terminal/quorvel-extractor \
    build/default/tools/sample_game/quorvel-make-sample "$data" "$results" $quick
