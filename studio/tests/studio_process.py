"""Starts the real program's studio on a game folder and talks to it, for
the hostile-request test, the browser test and the benchmarks. Standard
library only."""

import http.client
import json
import os
import re
import subprocess
import time

STUDIO_LINE = re.compile(r"^Studio: http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32,})$")


class Studio:
    """quorvel-extractor --studio --no-open, read up to its Studio line."""

    def __init__(self, program, game, *arguments, wine=None, command=None, env=None):
        if command is None:
            command = ([wine] if wine else []) + [program, "--studio", "--no-open", "-C", game, *arguments]
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, text=True, env=env)
        # The line is the studio's own sign that it listens: nothing is sent
        # before it. (Wine may say something of its own first.)
        match = None
        for _ in range(20):
            line = self.process.stderr.readline().rstrip("\r\n")
            match = STUDIO_LINE.match(line)
            if match or not line:
                break
        if not match:
            rest = self.process.stderr.read() if self.process.poll() is not None else ""
            self.process.kill()
            raise RuntimeError(f"no Studio line: {line!r} {rest!r}")
        self.line = line
        self.port = int(match.group(1))
        self.token = match.group(2)
        self.origin = f"http://127.0.0.1:{self.port}"

    def url(self, path):
        return f"{self.origin}{path}{'&' if '?' in path else '?'}token={self.token}"

    def request(self, method, path, body=None, headers=None, token=True, timeout=60):
        """One request on a connection of its own; (status, headers, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        sent = {"Host": f"127.0.0.1:{self.port}"}
        if method == "POST":
            sent["Origin"] = self.origin
        sent.update(headers or {})
        target = path
        if token:
            target += ("&" if "?" in path else "?") + "token=" + self.token
        connection.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
        for name, value in sent.items():
            if value is not None:
                connection.putheader(name, value)
        if body is not None:
            connection.putheader("Content-Length", str(len(body)))
        connection.endheaders(body)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, dict(response.getheaders()), data

    def get_json(self, path):
        status, _, data = self.request("GET", path)
        assert status == 200, (path, status, data)
        return json.loads(data)

    def post_json(self, path, value):
        status, _, data = self.request("POST", path, json.dumps(value).encode())
        return status, json.loads(data) if data else None

    def quit(self, timeout=60):
        """Quit through the page's endpoint; the program's exit status."""
        if self.process.poll() is None:
            try:
                self.request("POST", "/api/quit")
            except OSError:
                pass
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise
        self.process.stderr.close()
        return status


def make_sample(generator, folder, *arguments):
    subprocess.run([generator, *arguments, folder], check=True, stdout=subprocess.DEVNULL)
    return folder


def listing(program, game, *arguments):
    has_speech = os.path.exists(os.path.join(game, "speech.pak"))
    result = subprocess.run([program, "--list", "--json", "-y" if has_speech else "-n", "-C", game, *arguments],
                            check=True, capture_output=True)
    return result.stdout


def wait_until(check, what, timeout=60.0):
    """Polls `check` until it is true: for what only the program shows (a
    run's end), never a fixed sleep. Fails after `timeout`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


class Checks:
    """The verdicts of a test script: each check printed as it is made, the
    failures counted, and the script's exit status at the end."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        print(("ok: " if condition else "FAIL: ") + what)
        if not condition:
            self.failures.append(what)

    def finish(self, name):
        print(f"{len(self.failures)} failed" if self.failures else f"{name}: all passed")
        raise SystemExit(1 if self.failures else 0)

