#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora.

Usage: make_seeds.py OUT_DIR [GAME_FOLDER...]

OUT_DIR/block_stream gets whole archives, OUT_DIR/carving the RIFF block
payloads (after the signature) found in them. Both get hand-written edge
cases too. Every seed starts with the fuzz targets' parameter bytes: see
fuzz_support.hpp (run options, filler block) and carving_fuzzer.cpp (the
slice seed).
"""

import pathlib
import struct
import sys

NO_FAULT = bytes([0, 0, 0])
WHOLE_READS = bytes([0])
THREE_BYTE_READS = bytes([130])
NO_FILLER = bytes([0])
FILLER_7_BEFORE_BOUNDARY = bytes([192 + 7])
SLICE_SEED = bytes(8)


def block(payload: bytes) -> bytes:
    return struct.pack("<i", len(payload) + 4) + payload


def raw_length(value: int) -> bytes:
    return struct.pack("<i", value)


def riff(form: bytes, data: bytes, declared=None) -> bytes:
    size = len(form) + len(data) if declared is None else declared
    return b"RIFF" + struct.pack("<i", size) + form + data


FINAL = b"\0\0\0\0"

HAND_ARCHIVES = {
    "empty": b"",
    "three_bytes": b"\x01\x02\x03",
    "only_final_field": FINAL,
    "avqf_then_empty": block(b"AVQF1234") + block(b"") + FINAL,
    "short_blocks": raw_length(5) + b"a" + raw_length(7) + b"bcd" + raw_length(-3) + FINAL,
    "huge_length": raw_length(0x7FFFFFFF) + b"tiny",
    "most_negative_length": raw_length(-0x80000000) + block(b"AVQF") + FINAL,
    "riff_only": block(b"RIFF") + block(b"other") + FINAL,
    "sound_tail_sound": block(riff(b"WAVE", b"") + b"xx" + riff(b"WAVE", b"")) + FINAL,
    "chance_riff_in_samples": block(riff(b"WAVE", b"abcdefgh" + b"RIFF" + b"\0\0\0\0" + b"data" + b"ij")) + FINAL,
    "riff_every_4_bytes": block(b"RIFF" * 64) + FINAL,
    "declared_minus_8": block(riff(b"WAVE", b"abc", declared=-8)) + FINAL,
    "declared_max": block(riff(b"WAVE", b"abc", declared=0x7FFFFFFF)) + FINAL,
    "truncated_riff": block(riff(b"WAVE", b"0123456789")) [:-5],
}

HAND_PAYLOADS = {
    "short_piece": b"\x04\0",
    "two_sounds": riff(b"WAVE", b"12")[4:] + riff(b"WAVE", b"34"),
    "split_header": struct.pack("<i", 4) + b"WAVERIFF" + b"\x04\0\0\0WAVE",
    "tail_then_sound": struct.pack("<i", 4) + b"WAVE" + b"tail" + riff(b"WAVE", b""),
    "same_form_inside": struct.pack("<i", 100) + b"WAVE" + b"12345678" + riff(b"WAVE", b"9"),
    "other_form_inside": struct.pack("<i", 100) + b"WAVE" + b"12345678" + riff(b"AVI ", b"9"),
    "declared_below_minus_8": struct.pack("<i", -100) + b"WAVEdata",
}


def blocks_of(archive: bytes):
    position = 0
    while len(archive) - position >= 8:
        (length,) = struct.unpack_from("<i", archive, position)
        payload = archive[position + 4 : position + max(length, 4)]
        yield payload
        position += max(length, 4)


def write(folder: pathlib.Path, name: str, data: bytes) -> None:
    (folder / name).write_bytes(data)


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = pathlib.Path(sys.argv[1])
    stream_dir = out / "block_stream"
    carving_dir = out / "carving"
    stream_dir.mkdir(parents=True, exist_ok=True)
    carving_dir.mkdir(parents=True, exist_ok=True)

    archives = dict(HAND_ARCHIVES)
    for folder in map(pathlib.Path, sys.argv[2:]):
        for pak in sorted(folder.glob("*.pak")):
            archives[f"{folder.name}_{pak.stem}"] = pak.read_bytes()

    for name, archive in archives.items():
        write(stream_dir, name, NO_FAULT + WHOLE_READS + NO_FILLER + archive)
        write(stream_dir, name + "_small_reads", NO_FAULT + THREE_BYTE_READS + NO_FILLER + archive)
        write(stream_dir, name + "_at_boundary", NO_FAULT + WHOLE_READS + FILLER_7_BEFORE_BOUNDARY + archive)
        for index, payload in enumerate(blocks_of(archive)):
            if payload.startswith(b"RIFF") and len(payload) > 4:
                write(carving_dir, f"{name}_{index}", NO_FAULT + WHOLE_READS + NO_FILLER + SLICE_SEED + payload[4:])
    for name, payload in HAND_PAYLOADS.items():
        write(carving_dir, name, NO_FAULT + WHOLE_READS + FILLER_7_BEFORE_BOUNDARY + SLICE_SEED + payload)
    print(f"seeds: {len(list(stream_dir.iterdir()))} archives, {len(list(carving_dir.iterdir()))} RIFF payloads")
    return 0


if __name__ == "__main__":
    sys.exit(main())
