#!/usr/bin/env bash
# Peak resident memory of the real program on a tiny archive and on the
# biggest block an archive can hold (a RIFF block of 2 GiB - 1 bytes, one
# sound, no further marker): the two must be about the same, since no
# block is ever held whole. Not a test with a threshold: a measurement.
#
# Usage: tests/faults/peak_rss.sh [PROGRAM]   (default build/default/terminal/quorvel-extractor)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
program=$(realpath "${1:-$root/build/default/terminal/quorvel-extractor}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_game() {  # folder, sample bytes of the one sound
    mkdir -p "$1"
    python3 - "$1/sfx.pak" "$2" <<'PY'
import os, struct, sys
path, samples = sys.argv[1], int(sys.argv[2])
header = b"RIFF" + struct.pack("<i", samples + 4) + b"WAVE"
with open(path, "wb") as archive:
    archive.write(struct.pack("<i", 4 + len(header) + samples) + header)
# Zeros, as a sparse file: quick to make, and read like any other bytes.
os.truncate(path, 4 + len(header) + samples)
with open(path, "ab") as archive:
    archive.write(b"\0\0\0\0")
PY
}

measure() {  # folder
    (cd "$1" && /usr/bin/time -f "%M" "$program" -n 2>&1 >/dev/null | tail -n 1)
}

make_game "$work/tiny" 100
make_game "$work/big" $((0x7FFFFFFF - 16))
tiny=$(measure "$work/tiny")
big=$(measure "$work/big")
written=$(stat -c %s "$work/big/sfx/sfx_0001.wav")
echo "peak RSS: ${tiny} KiB for a 128-byte archive, ${big} KiB for one ${written}-byte sound"
