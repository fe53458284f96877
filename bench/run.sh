#!/usr/bin/env bash
# The benchmark suite in one command:
#
#   bench/run.sh [--quick] [--cold] [--data FOLDER] [--repetitions N] [--only a,c,f] [--results NAME]
#
# Builds the default preset, runs the micro-benchmarks, generates the inputs
# (a)-(g) into a scratch folder (default build/bench-data) one at a time,
# measures quorvel-extractor against cp and tar -xf of the same bytes (and
# --export flac against extracting, then ffmpeg on every sound) and
# writes bench/results/: results.md, results.json, time-vs-size.png and
# micro.json; then the decoding of stored sounds (bench/decode.sh, into
# bench/results/decode/, not with --only or --cold). --quick uses small
# inputs and takes a minute or two; the full run needs about 30 GiB of free
# disk and 25 minutes. Start it some minutes
# after any mass deletion on the same ext4 file system: a file system without
# a journal creates files slowly for a while after many were deleted.
# --cold drops the page cache before every run (where allowed). Quick and
# cold runs write to bench/results/quick/ and bench/results/cold/, and
# --results NAME to bench/results/NAME/ (a run of some inputs only, say).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="$repo/build/bench-data"
results="$repo/bench/results"
quick=""
cold=""
repetitions=5
only=""
named=""

usage() {
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"
}

while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) quick="--quick"; repetitions=3 ;;
        --cold) cold="--cold" ;;
        --data) data="$2"; shift ;;
        --repetitions) repetitions="$2"; shift ;;
        --only) only="$2"; shift ;;
        --results) named="$2"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "run.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

# The full warm run's results are the reference: other runs go beside them.
if [[ -n "$quick" ]]; then results="$results/quick"; fi
if [[ -n "$cold" ]]; then results="$results/cold"; fi
if [[ -n "$named" ]]; then results="$repo/bench/results/$named"; fi

# Room for the largest input five times over (the archive, the extractor's
# output, cp's copy, the tar archive and what tar -xf unpacks), and for the
# outputs of many files kept until the end (see measure.py).
if [[ -n "$quick" ]]; then need_gib=2; else need_gib=30; fi
mkdir -p "$data"
free_gib=$(( $(df --output=avail -k "$data" | tail -1) / 1024 / 1024 ))
if (( free_gib < need_gib )); then
    echo "run.sh: $data has ${free_gib} GiB free; the ${quick:+quick }run needs ${need_gib} GiB." >&2
    echo "        Free some space or point --data at a bigger disk." >&2
    exit 1
fi

# The plot needs matplotlib (Debian: python3-matplotlib), which may be
# installed for the system's Python only.
python=python3
if ! python3 -c 'import matplotlib' 2> /dev/null && /usr/bin/python3 -c 'import matplotlib' 2> /dev/null; then
    python=/usr/bin/python3
fi

for command in cmake "$python" tar cp; do
    if ! command -v "$command" > /dev/null; then
        echo "run.sh: '$command' is needed" >&2
        exit 1
    fi
done

cd "$repo"
cmake --preset default > /dev/null
cmake --build --preset default -j2
build="$repo/build/default"
mkdir -p "$results"

micro_json=""
if [[ -x "$build/bench/quorvel_micro_bench" ]]; then
    micro_json="$results/micro.json"
    min_time=$([[ -n "$quick" ]] && echo 0.1 || echo 0.5)
    "$build/bench/quorvel_micro_bench" --benchmark_min_time="$min_time" --benchmark_repetitions=3 \
        --benchmark_report_aggregates_only=true --benchmark_out="$micro_json" --benchmark_out_format=json
else
    echo "run.sh: no micro-benchmarks (Google Benchmark, Debian's libbenchmark-dev, is not installed)" >&2
fi

"$python" "$repo/bench/measure.py" \
    --tool "$build/terminal/quorvel-extractor" \
    --maker "$build/tools/sample_game/quorvel-make-sample" \
    --data "$data" --results "$results" --repetitions "$repetitions" \
    ${micro_json:+--micro-json "$micro_json"} $quick $cold ${only:+--only "$only"}

# Decoding stored sounds: every encoding's speed, and the first bytes of a
# game sound's decoded WAV (bench/results/decode/).
if [[ -z "$only" && -z "$cold" ]]; then
    "$repo/bench/decode.sh" $quick --data "$data"
fi

echo
echo "Results: $results/results.md and $results/time-vs-size.png"
