#!/usr/bin/python3
"""The Windows console program's studio, run under Wine, answers the same
interface as the Linux program's: the entries, a file's bytes and a range,
the peaks, and the token refused; then Quit through the page's endpoint.

    wine_studio_check.py WINDOWS_EXE LINUX_PROGRAM GAME_FOLDER [LAUNCHER]

With LAUNCHER (the zip's "Quorvel Studio.cmd", beside the exe it starts), the
studio is also started as a double-click would, with the game's folder
dropped on it, and must list the game the same way.

GAME_FOLDER must be a copy of the game of its own: the Linux program's
extraction of it goes into a folder beside it."""

import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_process import Checks, Studio, listing  # noqa: E402

windows_exe, linux_program, game = sys.argv[1:4]
launcher = sys.argv[4] if len(sys.argv) > 4 else None
check = Checks()


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


expected = listing(linux_program, game)
records = [json.loads(line) for line in expected.splitlines() if b'"path"' in line]
reference = game.rstrip("/") + "-reference"
shutil.rmtree(reference, ignore_errors=True)
os.makedirs(reference)
for name in ("sfx.pak", "speech.pak"):
    if os.path.exists(os.path.join(game, name)):
        shutil.copy(os.path.join(game, name), reference)
subprocess.run([linux_program, "-y" if os.path.exists(os.path.join(game, "speech.pak")) else "-n", "-q", "-C",
                reference], check=True)

linux = Studio(linux_program, game)
studio = Studio(windows_exe, wine_path(game), wine="wine")
try:
    status, _, body = studio.request("GET", "/api/entries")
    check(status == 200 and body.replace(b"\r\n", b"\n") == expected,
          f"entries: the Linux program's --list --json, {len(records)} files")
    sound = next(r for r in records if r["kind"] == "sound")
    with open(os.path.join(reference, sound["path"]), "rb") as f:
        want = f.read()
    status, headers, data = studio.request("GET", "/api/file/" + sound["path"])
    check(status == 200 and data == want and headers.get("Content-Type") == "audio/wav",
          f"{sound['path']}: extraction's {len(want)} bytes, audio/wav")
    status, headers, data = studio.request("GET", "/api/file/" + sound["path"], headers={"Range": "bytes=8-"})
    check(status == 206 and data == want[8:] and headers.get("Content-Range") == f"bytes 8-{len(want) - 1}/{len(want)}",
          "a range: 206 and the bytes from 8 on")
    status, _, _ = studio.request("GET", "/api/file/" + sound["path"], headers={"Range": f"bytes={len(want)}-"})
    check(status == 416, "a range past the end: 416")
    peaks_path = f"/api/peaks/{sound['path']}?n=64"
    check(studio.get_json(peaks_path) == linux.get_json(peaks_path), "peaks: the same as the Linux program's")
    # The sound libraries built for Windows: a compressed sound decoded for
    # the browser, and a clip of a sound found, as on Linux.
    for encoding in ("ima_adpcm", "gsm610"):
        coded = next((r for r in records if r.get("encoding") == encoding), None)
        if coded:
            decoded_path = "/api/decoded/" + coded["path"]
            status, _, data = studio.request("GET", decoded_path)
            check(status == 200 and data == linux.request("GET", decoded_path)[2],
                  f"{coded['path']} ({encoding}) decoded: the Linux program's {len(data)} bytes")
    longest = max((r for r in records if r["kind"] == "sound"), key=lambda r: r.get("seconds") or 0)
    with open(os.path.join(reference, longest["path"]), "rb") as f:
        clip = f.read()
    status, _, body = studio.request("POST", "/api/find?name=clip.wav", clip, timeout=300)
    found = json.loads(body)["found"] if status == 200 else []
    check(found and found == json.loads(linux.request("POST", "/api/find?name=clip.wav", clip, timeout=300)[2])["found"]
          and found[0]["path"] == longest["path"], f"a whole sound as a clip finds itself, as on Linux ({status})")
    # A swap and its undo: the Windows file operations (renames over files).
    other = next(r for r in records if r["kind"] == "sound" and r["size"] != sound["size"])
    with open(os.path.join(reference, other["path"]), "rb") as f:
        replacement = f.read()
    status, _, body = studio.request("POST", "/api/swap/" + sound["path"] + "?as_is=1", replacement, timeout=300)
    with open(os.path.join(game, sound["path"]), "rb") as f:
        check(status == 200 and f.read() == replacement, f"a swap puts the WAV in the output folder ({status} {body!r})")
    status, _, body = studio.request("POST", "/api/undo/" + sound["path"], b"", timeout=300)
    with open(os.path.join(game, sound["path"]), "rb") as f:
        check(status == 200 and f.read() == want, f"undo puts the archive's sound back ({status})")
    # A pack of a swapped sound: the new archive renamed over the old one,
    # which the studio itself holds open to serve it.
    status, _, body = studio.request("POST", "/api/swap/" + sound["path"] + "?as_is=1", replacement, timeout=300)
    check(status == 200, f"the swap before the pack ({status} {body!r})")
    status, _, body = studio.request("POST", "/api/pack", b'{"dry_run": false}',
                                     headers={"Content-Type": "application/json"}, timeout=300)
    archives = json.loads(body)["archives"] if status == 200 else []
    check(status == 200 and archives and not any(a["refused"] for a in archives),
          f"a pack after a swap: every archive packed ({status} {body!r})")
    status, _, data = studio.request("GET", "/api/file/" + sound["path"])
    check(status == 200 and data == replacement, "the packed archive serves the new sound")
    status, _, body = studio.request("GET", "/api/entries", token=False)
    check(status == 403 and body == b"Forbidden\n", "no token: 403")
    status, _, _ = studio.request("GET", "/api/entries", headers={"Host": f"evil.example:{studio.port}"})
    check(status == 403, "a wrong Host: 403")
    status, _, _ = studio.request("GET", "/api/file/../sfx.pak")
    check(status == 404, "a path out of the listing: 404")
finally:
    exit_status = studio.quit()
    linux.quit()
check(exit_status == 0, f"Quit through the page: exit status {exit_status}")
# The game as it was, for the launcher.
for name in ("sfx.pak", "speech.pak"):
    if os.path.exists(os.path.join(reference, name)):
        shutil.copy(os.path.join(reference, name), os.path.join(game, name))
    if os.path.exists(os.path.join(game, name + ".bak")):
        os.remove(os.path.join(game, name + ".bak"))

if launcher:
    # As a double-click on the launcher with the game's folder dropped on it;
    # the variable keeps a test from opening a browser.
    environment = dict(os.environ, QUORVEL_STUDIO_OPTIONS="--no-open")
    started = Studio(None, None, command=["wine", "cmd", "/c", wine_path(launcher), wine_path(game)], env=environment)
    try:
        status, _, body = started.request("GET", "/api/entries")
        check(status == 200 and body.replace(b"\r\n", b"\n") == expected, "the launcher starts the studio on the game")
    finally:
        launcher_status = started.quit()
    check(launcher_status == 0, f"the launcher's studio quits with exit status {launcher_status}")
check.finish("the console program's studio under Wine")
