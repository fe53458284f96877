#!/usr/bin/python3
"""--list --labels FILE: the listing of --list, each file's record with the
label a shared list gives it, by hash first and by path where no file has
the line's hash.

    labels_cli_test.py PROGRAM GENERATOR WORK_FOLDER"""

import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_process import listing, make_sample  # noqa: E402
from xxh64 import xxh64  # noqa: E402

program, generator, work = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
game = make_sample(generator, os.path.join(work, "game"), "--profile", "tiny")
plain = listing(program, game).decode().splitlines()
records = [json.loads(line) for line in plain]
files = [r for r in records if "path" in r]
with open(os.path.join(game, "sfx.pak"), "rb") as archive:
    archive.seek(files[1]["offset"])
    second = archive.read(files[1]["size"])
labels = os.path.join(work, "shared.tsv")
with open(labels, "w", encoding="utf-8", newline="") as out:
    # The second file's bytes under a path they no longer have; the first by path.
    out.write("\ufeff# shared\r\n")
    out.write(f"sfx/sfx_9999.wav\t{xxh64(second):016x}\tmoved «here»\r\n")
    out.write(f"{files[0]['path']}\t\tby path\n")
    out.write("sfx/sfx_0001.wav\tnot-a-hash\tbroken\n")
result = subprocess.run([program, "--list", "--json", "-y", "-C", game, "--labels", labels], capture_output=True)
failures = []
lines = result.stdout.decode().splitlines()
if result.returncode != 0 or len(lines) != len(plain):
    failures.append(f"exit {result.returncode}, {len(lines)} lines for {len(plain)}: {result.stderr!r}")
for got, want in zip(lines, plain):
    record = json.loads(want)
    if "path" in record:
        label = {files[0]["path"]: "by path", files[1]["path"]: "moved «here»"}.get(record["path"])
        want = want[:-1] + ", \"label\": " + json.dumps(label, ensure_ascii=False) + "}"
    if got != want:
        failures.append(f"{got!r} is not {want!r}")
text = subprocess.run([program, "--list", "-y", "-C", game, "--labels", labels], capture_output=True, text=True)
if not text.stdout.splitlines()[1].endswith("\tmoved «here»"):
    failures.append("the tab-separated listing lacks the label column: " + text.stdout.splitlines()[1])
usage = subprocess.run([program, "--labels", labels, "-y", "-C", game], capture_output=True, text=True)
if usage.returncode != 2:
    failures.append(f"--labels without --list or --studio: exit {usage.returncode}")
missing = subprocess.run([program, "--list", "-y", "-C", game, "--labels", os.path.join(work, "none.tsv")],
                         capture_output=True, text=True)
if missing.returncode != 1 or "none.tsv" not in missing.stderr:
    failures.append(f"a missing list: exit {missing.returncode}, {missing.stderr!r}")
for failure in failures:
    print("FAIL:", failure)
print("--list --labels: all passed" if not failures else f"{len(failures)} failed")
sys.exit(1 if failures else 0)
