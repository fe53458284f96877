#!/usr/bin/env bash
# The replacement benchmark in one command:
#
#   bench/replacement.sh [--data FOLDER] [--runs N] [--minutes 3,30,60]
#
# Builds quorvel-fit-sound (default preset); makes, with sox, an archived
# mono 22,050 Hz IMA ADPCM sound and stereo 44,100 Hz MP3s of each length
# (default build/bench-data/replacement, kept for later runs); times the
# 3-minute MP3 made into the IMA ADPCM sound with hyperfine (target: under
# 1 s); measures the peak memory of every length (target: the same for all,
# at most 32 MiB); prints libsoxr's own account of its setting; and writes
# bench/results/replacement/results.md and results.json.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data="$repo/build/bench-data/replacement"
results="$repo/bench/results/replacement"
runs=10
minutes="3,30,60"

usage() {
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"
}

while [[ $# -gt 0 ]]; do
    case "$1" in
        --data) data="$2"; shift ;;
        --runs) runs="$2"; shift ;;
        --minutes) minutes="$2"; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "replacement.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

for tool in sox hyperfine /usr/bin/time python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "replacement.sh: $tool is missing (Debian: sox libsox-fmt-all hyperfine time python3)" >&2
        exit 1
    fi
done

cmake --build --preset default --target quorvel-fit-sound -j2 >/dev/null
fit="$repo/build/default/bench/quorvel-fit-sound"
mkdir -p "$data" "$results"

# Named as they are in the data folder, so the report reads as a user's would.
cd "$data"
archived="archived-ima-22050.wav"
if [[ ! -s "$archived" ]]; then
    sox -n -r 22050 -c 1 -e ima-adpcm "$archived" synth 2 pinknoise vol 0.1
fi
IFS=, read -r -a lengths <<< "$minutes"
for length in "${lengths[@]}"; do
    mp3="new-${length}min.mp3"
    if [[ ! -s "$mp3" ]]; then
        echo "making $mp3" >&2
        sox -n -r 44100 -c 2 -C 192 "$mp3" synth "$((length * 60))" pinknoise sine 200-2000 vol 0.4
    fi
done

out="out.wav"
three="new-3min.mp3"
[[ -s "$three" ]] || sox -n -r 44100 -c 2 -C 192 "$three" synth 180 pinknoise sine 200-2000 vol 0.4
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
hyperfine --warmup 1 --runs "$runs" --export-json "$results/hyperfine.json" \
    "$fit $archived $three $out" >&2

memory_rows=()
for length in "${lengths[@]}"; do
    mp3="new-${length}min.mp3"
    # The tool's own lines on stderr come first; /usr/bin/time's is marked.
    measured=$( ( /usr/bin/time -f 'TIME %e %U %S %M' "$fit" "$archived" "$mp3" "$out" >/dev/null ) 2>&1 | grep '^TIME' )
    memory_rows+=("$length $(stat -c %s "$mp3") $(stat -c %s "$out") ${measured#TIME }")
done
report=$("$fit" "$archived" "$three" "$out" 2>/dev/null)
quality=$("$fit" --resampler-quality)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$results" "$runs" "$load_before" "$load_after" "$report" "$quality" "${memory_rows[@]}" <<'EOF'
import json, os, platform, sys

results, runs, load_before, load_after, report, quality = sys.argv[1:7]
rows = [row.split() for row in sys.argv[7:]]
run = json.load(open(os.path.join(results, "hyperfine.json")))["results"][0]
cpu = run["user"] + run["system"]
memory = [
    {"minutes": int(m), "mp3_bytes": int(size), "out_bytes": int(out), "wall_s": float(wall),
     "cpu_s": float(user) + float(system), "peak_rss_kib": int(rss)}
    for m, size, out, wall, user, system, rss in rows
]
summary = {
    "three_minutes": {"wall_mean_s": run["mean"], "wall_stddev_s": run["stddev"], "wall_min_s": run["min"],
                      "cpu_mean_s": cpu, "runs": int(runs)},
    "memory": memory, "report": report, "resampler": quality,
    "load_average": {"before": load_before, "after": load_after}, "machine": platform.processor() or platform.machine(),
}
json.dump(summary, open(os.path.join(results, "results.json"), "w"), indent=2)

peak = max(m["peak_rss_kib"] for m in memory) / 1024
lines = [
    "# Replacement benchmark",
    "",
    "A stereo 44,100 Hz MP3 made into the mono 22,050 Hz IMA ADPCM sound it replaces "
    "(`bench/replacement.sh`): decoded, mixed, resampled (libsoxr VHQ), measured, encoded, measured again.",
    "",
    "| input | wall, mean ± σ (min) | CPU (user + sys) | target |",
    "|---|---:|---:|---|",
    f"| 3-minute MP3 | {run['mean']:.3f} ± {run['stddev']:.3f} s ({run['min']:.3f} s) | {cpu:.3f} s | under 1 s: "
    + ("met" if run["mean"] < 1 else ("**missed** on wall time" + (", met on CPU time" if cpu < 1 else ""))) + " |",
    "",
    "Peak memory by input length (one run each):",
    "",
    "| input | MP3 | output | wall | CPU | peak RSS |",
    "|---:|---:|---:|---:|---:|---:|",
]
for m in memory:
    lines.append(f"| {m['minutes']} min | {m['mp3_bytes'] / 2**20:.1f} MiB | {m['out_bytes'] / 2**20:.1f} MiB | "
                 f"{m['wall_s']:.2f} s | {m['cpu_s']:.2f} s | {m['peak_rss_kib'] / 1024:.1f} MiB |")
lines += [
    "",
    f"Peak memory at most {peak:.1f} MiB (target: at most 32 MiB, whatever the length): "
    + ("met" if peak <= 32 else "**missed**") + ".",
    "",
    "The report of the 3-minute run:",
    "",
    "```",
    report,
    "```",
    "",
    "The resampler:",
    "",
    "```",
    quality,
    "```",
    "",
    f"Load average (1, 5, 15 min) before: {load_before}; after: {load_after} "
    f"(the machine's {os.cpu_count()} cores are shared: wall time is the CPU time only on an idle machine). "
    f"Each 3-minute figure is over {runs} runs after one warm-up; inputs in the page cache.",
]
open(os.path.join(results, "results.md"), "w").write("\n".join(lines) + "\n")
print("\n".join(lines))
EOF
