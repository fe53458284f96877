#!/usr/bin/python3
"""Hostile requests against the real program's studio, as an attacker on the
same machine (or a page in the user's browser) would send them: no token, a
wrong one, a wrong Host, a cross-site Origin, a POST without one, paths that
climb out of the listing, huge, inverted and many ranges, an upload broken
off mid-body, an oversized header, garbage, 200 requests at once and a
client that leaves mid-download. Each is refused or served, and the studio
answers properly afterwards. Then: a file's bytes and ranges across the
archive's 4 MiB windows equal extraction's; a port in use fails the start,
naming it; Ctrl-C during a run ends it with 130, Quit with no run with 0.

    hostile_requests.py PROGRAM GENERATOR WORK_FOLDER"""

import glob
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_process import Checks, Studio, listing, make_sample, wait_until  # noqa: E402

program, generator, work = sys.argv[1:4]
check = Checks()


def raw(studio, data, read=True, timeout=10):
    """Sends bytes as they are; the answer's status line, or '' when closed."""
    with socket.create_connection(("127.0.0.1", studio.port), timeout=timeout) as s:
        s.sendall(data)
        if not read:
            return ""
        answer = b""
        try:
            while b"\r\n" not in answer:
                piece = s.recv(4096)
                if not piece:
                    break
                answer += piece
        except (ConnectionResetError, socket.timeout):
            pass
        return answer.split(b"\r\n", 1)[0].decode("latin-1")


def alive(studio, expected):
    status, _, body = studio.request("GET", "/api/entries")
    return status == 200 and body == expected


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
# Files across the archive's 4 MiB windows and past 64 KiB chunks, blocks
# written whole larger than a window among them; no speech.pak, so the
# listing is -n's.
game = make_sample(generator, os.path.join(work, "game"), "--sfx",
                   'block wav(30K) "xy"; block wav(6M) "tail"; block "AVQF" noise(5M); block "DATA" bytes(1M, 7); '
                   'block "RIFF"; block; final')
expected = listing(program, game)
records = [json.loads(line) for line in expected.splitlines() if b'"path"' in line]
reference = os.path.join(work, "reference")
os.makedirs(reference)
shutil.copy(os.path.join(game, "sfx.pak"), reference)
subprocess.run([program, "-n", "-q", "-C", reference], check=True)

studio = Studio(program, game)
port = studio.port
try:
    check(alive(studio, expected), "/api/entries is exactly --list --json -n (no speech.pak)")

    # The token, the Host and the Origin.
    status, _, body = studio.request("GET", "/api/entries", token=False)
    check(status == 403 and body == b"Forbidden\n", "no token: 403 and nothing else")
    status, _, _ = studio.request("GET", "/api/entries?token=" + "0" * 64, token=False)
    check(status == 403, "a wrong token: 403")
    status, _, _ = studio.request("GET", "/api/entries?token=" + studio.token.upper(), token=False)
    check(status == 403, "the token in capitals: 403")
    status, _, _ = studio.request("GET", "/?token=" + studio.token[:-1], token=False)
    check(status == 403, "the token less its last digit: 403")
    for host in ("evil.example:%d" % port, "127.0.0.1:%d" % (port + 1), "127.0.0.1", "localhost.evil:%d" % port):
        status, _, _ = studio.request("GET", "/api/entries", headers={"Host": host})
        check(status == 403, f"Host {host}: 403 (DNS rebinding)")
    labels_file = os.path.join(game, "quorvel-labels.tsv")
    body = json.dumps({"path": records[0]["path"], "label": "planted"}).encode()
    status, _, _ = studio.request("POST", "/api/labels", body, headers={"Origin": "http://evil.example"})
    check(status == 403 and not os.path.exists(labels_file), "a cross-site Origin on a POST: 403, nothing written")
    status, _, _ = studio.request("POST", "/api/labels", body, headers={"Origin": None})
    check(status == 403 and not os.path.exists(labels_file), "a POST without Origin: 403, nothing written")
    status, headers, _ = studio.request("GET", "/api/entries")
    check(not any(k.lower().startswith("access-control-") for k in headers), "no CORS headers")
    check(headers.get("Referrer-Policy") == "no-referrer" and headers.get("X-Content-Type-Options") == "nosniff"
          and headers.get("Cache-Control") == "no-store" and "script-src 'self'" in
          headers.get("Content-Security-Policy", ""), "every answer: no-referrer, nosniff, no-store, a CSP")

    # Paths that are not the listing's.
    secret = os.path.join(work, "secret.txt")
    with open(secret, "w") as out:
        out.write("secret")
    for path in ("/api/file/../sfx.pak", "/api/file/sfx/../sfx.pak", "/api/file/%2e%2e/sfx.pak",
                 "/api/file/sfx/%2e%2e%2fsfx.pak", "/api/file/sfx%2fsfx_0001.wav", "/api/file//etc/passwd",
                 "/api/file/" + secret, "/api/file/sfx\\..\\sfx.pak", "/api/file/sfx.pak",
                 "/api/file/quorvel-labels.tsv", "/api/file/sfx/sfx_9999.wav", "/api/peaks/..%2f..%2fsecret.txt",
                 "/api/output/../secret.txt", "/api/file/sfx/sfx_0001.wav%00.txt", "/../../etc/passwd"):
        status, _, data = studio.request("GET", path)
        check(status in (403, 404) and b"secret" not in data and b"root:" not in data, f"{path}: {status}")
    status, _, _ = studio.request("POST", "/api/swap/../sfx.pak", b"RIFF")
    check(status == 404, "a swap of a path outside the listing: 404")

    # Ranges.
    big = next(r for r in records if r["size"] > 5 << 20 and r["kind"] == "sound")
    with open(os.path.join(reference, big["path"]), "rb") as f:
        big_bytes = f.read()
    window = 4 << 20
    first = window - big["offset"] - 100  # 100 bytes before the archive's 4 MiB edge, into the file
    status, headers, data = studio.request("GET", "/api/file/" + big["path"],
                                           headers={"Range": f"bytes={first}-{first + 199}"})
    check(status == 206 and data == big_bytes[first:first + 200] and
          headers.get("Content-Range") == f"bytes {first}-{first + 199}/{len(big_bytes)}",
          "a range across the archive's 4 MiB window: 206, extraction's bytes")
    for record in records:
        status, headers, data = studio.request("GET", "/api/file/" + record["path"])
        with open(os.path.join(reference, record["path"]), "rb") as f:
            check(status == 200 and data == f.read(), f"{record['path']} whole: extraction's {record['size']} bytes")
    cases = [("bytes=0-99999999999999999999999", 206, len(big_bytes)), ("bytes=99999999999-", 416, 0),
             ("bytes=50-10", 200, len(big_bytes)), ("bytes=0-1,10-11", 206, 12),
             (",".join(["bytes=0-1"] + [f"{i}-{i}" for i in range(40)]), 200, len(big_bytes)),
             ("bytes=-0", 416, 0), ("lines=1-2", 200, len(big_bytes))]
    for header, want, length in cases:
        status, _, data = studio.request("GET", "/api/file/" + big["path"], headers={"Range": header})
        check(status == want and len(data) == length, f"Range {header[:40]}: {status}, {len(data)} bytes")

    # Peaks: the endpoint's arguments, and a sound larger than a 64 KiB chunk.
    peaks = studio.get_json(f"/api/peaks/{big['path']}?n=300")
    check(len(peaks["peaks"]) == 1 and len(peaks["peaks"][0]) == 300 and all(len(p) == 2 for p in peaks["peaks"][0]),
          "peaks: 300 min/max pairs for the one channel")
    for n in ("0", "99999", "-1", "x", ""):
        status, _, _ = studio.request("GET", f"/api/peaks/{big['path']}?n={n}")
        check(status == 400, f"peaks with n={n!r}: 400")

    # Bodies past their limits, an oversized header, garbage.
    status, _, _ = studio.request("POST", "/api/labels", b"x" * (65 << 10))
    check(status == 413, "a label request over 64 KiB: 413")
    check(raw(studio, b"GET /api/entries?token=" + studio.token.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
              % port + b"X-Padding: " + b"a" * (32 << 10) + b"\r\n\r\n").split(" ")[1:2] == ["431"],
          "a 32 KiB header: 431")
    for garbage in (b"\x00\xff\x13garbage\r\n\r\n", b"GET\r\n\r\n", b"GET / HTTP/9.9\r\n\r\n",
                    b"POST /api/quit HTTP/1.1\r\nContent-Length: -5\r\n\r\n", os.urandom(3000)):
        line = raw(studio, garbage)
        check(line == "" or line.split(" ")[1:2] in (["400"], ["403"]), f"garbage {garbage[:12]!r}: {line or 'dropped'}")
    status, _, _ = studio.request("PUT", "/api/labels", b"{}")
    check(status == 405, "PUT: 405")
    check(alive(studio, expected), "after the hostile requests, the listing is still served")

    # A broken upload: the old file stays, and no temporary file is left.
    status, _ = studio.post_json("/api/extract", {})
    check(status == 200, "extract all: 200")
    target = os.path.join(game, records[0]["path"])
    before = open(target, "rb").read()
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(f"POST /api/swap/{records[0]['path']}?token={studio.token} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                  f"Origin: {studio.origin}\r\nContent-Length: 1000000\r\n\r\n".encode() + b"RIFF" + b"\0" * 20000)
        wait_until(lambda: glob.glob(os.path.join(game, "sfx", ".quorvel-replacing.*")), "the upload's temporary file")
        # A second upload while the first arrives is refused, not written.
        status, _, _ = studio.request("POST", "/api/swap/" + records[0]["path"], b"RIFF")
        check(status == 409, f"a second upload while one arrives: 409 (got {status})")
    wait_until(lambda: not glob.glob(os.path.join(game, "sfx", ".quorvel-replacing*")), "the upload to be dropped")
    check(open(target, "rb").read() == before, "an upload broken off mid-body leaves the old file")
    status, _, body = studio.request("POST", "/api/swap/" + records[0]["path"] + "?as_is=1",
                                     b"ID3\x04 an mp3, say" + b"\0" * 100)
    check(status == 422 and b"not a WAV" in body and open(target, "rb").read() == before,
          "an upload that is not a WAV: 422, the old file stays")
    header = before[:44]
    for name, bad, says in (("a bare RIFF/WAVE header", before[:12], b"neither a fmt nor a data chunk"),
                            ("markup after the header", before[:12] + b"<html><script>x</script></html>", b"cut short"),
                            ("a data chunk cut short", before[:44 + 100], b"is cut short: its data chunk declares")):
        status, _, body = studio.request("POST", "/api/swap/" + records[0]["path"] + "?name=new.wav&as_is=1", bad)
        check(status == 422 and says in body and b"export it again" in body and open(target, "rb").read() == before,
              f"{name}: 422, says what is wrong and what to do, the old file stays")
    # The same bytes, and headers built to make a decoder allocate or loop,
    # sent to be fitted (and heard first): refused, never a crash.
    many_channels = header[:22] + struct.pack("<H", 65535) + header[24:] + b"\0" * 4096
    no_rate = header[:24] + struct.pack("<I", 0) + header[28:] + b"\0" * 4096
    zero_align = header[:32] + struct.pack("<H", 0) + header[34:] + b"\0" * 4096
    for name, bad, refused in (("a bare RIFF/WAVE header", before[:12], True),
                               ("an MP3 that is not", b"ID3\x04" + b"\0" * 100, True),
                               ("65,535 channels", many_channels, True), ("a rate of 0", no_rate, False),
                               ("a block align of 0", zero_align, False)):
        status, _, body = studio.request("POST", "/api/swap/" + records[0]["path"] + "?name=new.wav&dry_run=1", bad)
        check((status == 422 and b"keeps" in body) if refused else status in (200, 422),
              f"{name}, to be fitted (a dry run): {status}")
        check(open(target, "rb").read() == before and alive(studio, expected),
              f"{name}: the old file stays and the studio still serves")
    # A clip to find: bounded, and one built to break the decoder is refused.
    line = raw(studio, f"POST /api/find?name=big.wav&token={studio.token} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                       f"Origin: {studio.origin}\r\nContent-Length: {33 << 20}\r\n\r\nRIFF".encode())
    check(line.split(" ")[1:2] == ["413"], f"a clip over 32 MiB: 413 before its body is read ({line})")
    status, _, body = studio.request("POST", "/api/find?name=clip.wav", many_channels)
    check(status == 422 and b"clip.wav" in body and alive(studio, expected),
          f"a clip of 65,535 channels: 422, named, and the studio still serves (got {status})")
    for n in ("w=0", "w=99999", "h=513", "w=x"):
        status, _, _ = studio.request("GET", f"/api/spectrogram/{big['path']}?{n}")
        check(status == 400, f"spectrogram with {n}: 400")
    for path in ("/api/decoded/../sfx.pak", "/api/spectrogram/../secret.txt", "/api/similar/..%2fsecret.txt", "/api/decoded/sfx/%2e%2e/sfx.pak", "/api/export/..%2fsecret.txt?format=wav",
                 "/api/preview/../secret.txt", "/api/decoded/" + secret):
        status, _, data = studio.request("GET", path)
        check(status in (403, 404) and b"secret" not in data, f"{path}: {status}")
    status, headers, data = studio.request("GET", "/api/decoded/" + big["path"], headers={"Range": "bytes=0-43"})
    check(status == 206 and data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt ",
          "the decoded WAV of a sound past the 4 MiB window: its header by range")
    check(not glob.glob(os.path.join(game, "sfx", ".quorvel-replacing*")), "no upload is left after the refusals")

    # A request built to exhaust the parser: 100,000 nested brackets.
    deep = b'{"paths":[' + b"[" * 100000 + b"]" * 100000 + b"]}"
    status, _, body = studio.request("POST", "/api/extract", deep)
    check(status == 400 and len(body) < 200, f"100,000 nested brackets: 400, a short answer (got {status})")
    check(alive(studio, expected), "after the nested brackets, the studio still serves")
    for label in ("door\u0085creak", "door\u009bcreak", "door\u2028creak", "door\u2029creak",
                  "\u202ekaerc rood", "\u2066isolated\u2069"):
        status, _ = studio.post_json("/api/labels", {"path": records[0]["path"], "label": json.loads(f'"{label}"')})
        check(status == 400, f"a label with {label[:11]}: 400")

    # A name flipped between the extracted file and a link to a secret, as
    # fast as another process can, while the file is read: the secret is
    # never served.
    secret_bytes = b"OUTSIDE" * 100
    with open(secret, "wb") as out:
        out.write(secret_bytes)
    victim = os.path.join(game, records[1]["path"])
    flipping = threading.Event()

    def flip():
        link = victim + ".link"
        copy = victim + ".copy"
        shutil.copy(victim, copy)
        os.symlink(secret, link)
        while not flipping.is_set():
            os.link(link, victim + ".next", follow_symlinks=False)
            os.replace(victim + ".next", victim)
            os.link(copy, victim + ".next")
            os.replace(victim + ".next", victim)
        os.replace(copy, victim)
        os.unlink(link)

    flipper = threading.Thread(target=flip)
    flipper.start()
    served = []
    try:
        for _ in range(400):
            status, _, data = studio.request("GET", "/api/output/" + records[1]["path"])
            served.append((status, data))
    finally:
        flipping.set()
        flipper.join()
    check(not any(b"OUTSIDE" in data for _, data in served), "a name flipped to a link: no outside byte served "
          f"({sum(1 for s, _ in served if s == 200)} reads served, {sum(1 for s, _ in served if s == 422)} refused)")
    line = raw(studio, f"POST /api/swap/{records[0]['path']}?token={studio.token} HTTP/1.1\r\n"
                       f"Host: 127.0.0.1:{port}\r\nOrigin: {studio.origin}\r\nContent-Length: {3 << 30}\r\n\r\n"
                       .encode() + b"RIFF")
    check(line.split(" ")[1:2] == ["413"], f"an upload past the largest block (2 GiB): {line}")

    # A client that goes away mid-download ends only its own connection.
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(f"GET /api/file/{big['path']}?token={studio.token} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n"
                  .encode())
        s.recv(1000)
    check(alive(studio, expected), "a client that left mid-download: the studio still serves")

    # 200 requests at once.
    results = []

    def one(i):
        try:
            path = "/api/entries" if i % 2 else "/api/file/" + records[i % len(records)]["path"]
            results.append(studio.request("GET", path, timeout=60)[0])
        except OSError as error:
            results.append(str(error))

    threads = [threading.Thread(target=one, args=(i,)) for i in range(200)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    served = results.count(200)
    busy = results.count(503)
    check(served + busy == 200 and served > 0, f"200 requests at once: {served} served, {busy} answered 503")
    check(alive(studio, expected), "after 200 requests at once, the studio still serves")

    # 100 connections that never send a token do not lock the user out,
    # and are closed within a few seconds.
    silent = [socket.create_connection(("127.0.0.1", port)) for _ in range(100)]
    try:
        check(alive(studio, expected), "100 silent connections: the user is still served")
        for s in silent:
            s.settimeout(30)
        closed = sum(1 for s in silent if s.recv(1) == b"")
        check(closed == 100, f"the silent connections were closed ({closed} of 100)")
    finally:
        for s in silent:
            s.close()

    # A second studio on the same port fails to start, naming the port.
    other = subprocess.run([program, "--studio", "--no-open", "--port", str(port), "-C", game],
                           capture_output=True, text=True, timeout=60)
    check(other.returncode == 1 and str(port) in other.stderr, f"a port in use: exit 1, {other.stderr.strip()}")
finally:
    status = studio.quit()
check(status == 0, f"Quit with no run under way: exit status 0 (got {status})")
# The labels file in the game folder is a FIFO, then a link to a file
# elsewhere: the studio starts without it, says why, and reads nothing
# through the link.
labels_file = os.path.join(game, "quorvel-labels.tsv")
for plant, says in ((lambda: os.mkfifo(labels_file), "is a FIFO"),
                    (lambda: os.symlink(secret, labels_file), "is a symbolic link")):
    if os.path.lexists(labels_file):
        os.unlink(labels_file)
    with open(secret, "w") as out:
        out.write(records[0]["path"] + "\t\tread through a link\n")
    plant()
    studio = Studio(program, game)
    try:
        state = studio.get_json("/api/status")
        check(says in state["warning"] and studio.get_json("/api/labels") == {},
              f"a labels file that {says}: the studio starts without it and says so ({state['warning']})")
    finally:
        studio.quit()
os.unlink(labels_file)

# The browser is opened on a page file only the user can read, never on the
# address with the token, which every user can read in the process list.
opener_folder = os.path.join(work, "opener")
os.makedirs(opener_folder)
record = os.path.join(opener_folder, "record")
with open(os.path.join(opener_folder, "xdg-open"), "w") as out:
    out.write(f'#!/bin/sh\nprintf "%s\\n" "$@" >"{record}.args"\npage=${{1#file://}}\n'
              f'stat -c %a "$page" >"{record}.mode"\ncat "$page" >"{record}.page"\ntouch "{record}.done"\n')
os.chmod(os.path.join(opener_folder, "xdg-open"), 0o755)
runtime = os.path.join(work, "runtime")
os.makedirs(runtime, mode=0o700)
environment = dict(os.environ, PATH=opener_folder + ":" + os.environ["PATH"], XDG_RUNTIME_DIR=runtime)
studio = Studio(program, game, command=[program, "--studio", "-C", game], env=environment)
try:
    wait_until(lambda: os.path.exists(record + ".done"), "the stand-in opener to be called")
    arguments = open(record + ".args").read()
    check(studio.token not in arguments and arguments.startswith("file://" + runtime + "/"),
          f"the opener's arguments hold no token: {arguments.strip()}")
    check(open(record + ".mode").read().strip() == "600" and studio.token in open(record + ".page").read(),
          "the page it opens is the user's alone (mode 600) and takes the browser on to the studio")
finally:
    studio.quit()
page = arguments.strip()[len("file://"):]
check(not os.path.exists(page), "the page is removed when the studio ends")

nowhere = subprocess.run([program, "--studio", "--no-open", "-C", work], capture_output=True, text=True, timeout=60)
check(nowhere.returncode == 1 and "sfx.pak" in nowhere.stderr and "-C DIR" in nowhere.stderr,
      "no sfx.pak: the studio does not start (exit 1), naming it, with the hint")

# Ctrl-C while a run is under way: the run stops and the exit status is 130.
# The run must be seen under way before the signal; if it ends first, the
# case is made again with an archive twice as large.
size = 256
while True:
    slow = os.path.join(work, "slow")
    shutil.rmtree(slow, ignore_errors=True)
    make_sample(generator, slow, "--sfx", f'block wav(30K); block "DATA" bytes({size}M, 0); final')
    studio = Studio(program, slow)

    def extract():
        try:
            studio.post_json("/api/extract", {})
        except (OSError, ValueError):
            pass  # the studio ended before it answered: what counts is its exit status

    runner = threading.Thread(target=extract)
    runner.start()
    run = wait_until(lambda: (lambda r: r if r["running"] or r["outcome"] else None)(studio.get_json("/api/run")),
                     "the run to start")
    if run["running"]:
        studio.process.send_signal(signal.SIGINT)
    else:
        studio.quit()
    status = studio.process.wait(timeout=60)
    runner.join()
    big_out = os.path.join(slow, "sfx", "sfx_0002")
    finished = os.path.exists(big_out) and os.path.getsize(big_out) == size << 20
    if (not run["running"] or (status == 0 and finished)) and size < 4096:
        size *= 2  # the run ended before the signal came: no verdict, try a longer one
        continue
    check(status == 130, f"Ctrl-C during a run: exit status 130 (got {status})")
    check(not os.path.exists(big_out), "the file being written when the run stopped was removed")
    break
shutil.rmtree(slow, ignore_errors=True)

check.finish("hostile requests")
