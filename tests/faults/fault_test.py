#!/usr/bin/env python3
"""Fault injection on the real terminal program.

Usage: fault_test.py PROGRAM CASE GENERATOR
       fault_test.py --list          (the names of the cases)

Each case builds a game folder in a temporary directory, breaks something
real (a file size limit, a full file system, a link planted in the output
folder, an archive that shrinks, a signal mid-run...), runs PROGRAM and
checks the exit status, the error report's text and which files exist
with which bytes. Exit status 0: passed; 1: failed; 77: cannot run here
(only when the system forbids what the case needs, such as mount).

QUORVEL_FAULT_SEED fixes the random points of the signal and shrink cases.
"""

import hashlib
import json
import os
import re
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

SKIP = 77
NOBODY = 65534


class CaseFailed(Exception):
    pass


class CannotRunHere(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CaseFailed(message)


# --- Archives: made by the project's generator from layouts ----------------

# A small sfx.pak: a tagged block, a RIFF block of sound, stray bytes and
# sound, a 200,000-byte plain block, a tagged block.
SMALL_SFX = ('block "AVQF" bytes(1000, 49); block riff(5004) bytes(5000, 97) "tail" riff(3004) bytes(3000, 98); '
             'block "DATA" bytes(199996, 53); block "AVQF" bytes(10, 54); final')
SPEECH = 'block "AVQFspeech"; final'
# About 256 MiB: carved RIFF blocks (sound + tail) and copied plain blocks in
# turn, so a run takes long enough to be interrupted anywhere.
BIG_SFX = 'repeat 32 { block wav(4194288) "tail"; block "DATA" noise(4194280) }; final'
BIG_SFX_BLOCK = 4 << 20


# --- Running the program ----------------------------------------------------

class Game:
    """A game folder in a fresh temporary directory, removed afterwards."""

    def __init__(self, program, generator):
        self.generator = generator
        self.root = tempfile.mkdtemp(prefix="quorvel-faults-")
        os.chmod(self.root, 0o755)
        self.folder = os.path.join(self.root, "game")
        os.mkdir(self.folder)
        # A copy that an unprivileged user can run wherever the build lies.
        self.program = os.path.join(self.root, "quorvel-extractor")
        shutil.copy2(program, self.program)
        self.mounts = []

    def path(self, relative):
        return os.path.join(self.folder, relative)

    def make(self, sfx=None, speech=None, into=None):
        """Writes the archives given as layouts into the game folder (or
        `into`); returns the files a correct extraction gives, by name."""
        made = tempfile.mkdtemp(dir=self.root)
        subprocess.run([self.generator, "--sfx", sfx or "final", "--speech", speech or "final",
                        "--expect", os.path.join(made, "expected"), os.path.join(made, "archives")],
                       check=True, stdout=subprocess.DEVNULL)
        for name, layout in (("sfx.pak", sfx), ("speech.pak", speech)):
            if layout:
                os.replace(os.path.join(made, "archives", name), os.path.join(into or self.folder, name))
        files = {}
        for folder in ("sfx", "speech") if speech else ("sfx",):
            for name in sorted(os.listdir(os.path.join(made, "expected", folder))):
                with open(os.path.join(made, "expected", folder, name), "rb") as file:
                    files[f"{folder}/{name}"] = file.read()
        shutil.rmtree(made)
        return files

    def small(self):
        self.small_files = self.make(SMALL_SFX, SPEECH)
        return self

    def first_files(self, count):
        return dict(list(self.small_files.items())[:count])

    def start(self, *arguments, preexec=None):
        # QUORVEL_FAULT_UNDER: a command to run the program under, such as valgrind.
        wrapper = os.environ.get("QUORVEL_FAULT_UNDER", "").split()
        return subprocess.Popen([*wrapper, self.program, *arguments], cwd=self.folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec)

    def run(self, *arguments, preexec=None, timeout=120):
        process = self.start(*arguments, preexec=preexec)
        try:
            _, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise CaseFailed(f"the program hung for {timeout} s")
        return process.returncode, stderr.decode(errors="replace")

    def mount(self, *arguments):
        result = subprocess.run(["mount", *arguments], capture_output=True, text=True)
        if result.returncode != 0:
            raise CannotRunHere("mount is not permitted here: " + result.stderr.strip())
        self.mounts.append(arguments[-1])

    def outputs(self, folder):
        """Every entry of an output folder: bytes for files, a note for others."""
        found = {}
        base = self.path(folder)
        if not os.path.isdir(base):
            return found
        for name in sorted(os.listdir(base)):
            full = os.path.join(base, name)
            mode = os.lstat(full).st_mode
            if stat.S_ISREG(mode):
                with open(full, "rb") as file:
                    found[f"{folder}/{name}"] = file.read()
            else:
                found[f"{folder}/{name}"] = "link" if stat.S_ISLNK(mode) else "other"
        return found

    def close(self):
        for target in reversed(self.mounts):
            subprocess.run(["umount", "-l", target], capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)


def expect_failure(code, stderr, error, file):
    """Exit status 1 and the error on one line: the file, the description
    and, for the system's own errors ("Error 13: Permission denied"), the
    number."""
    expect(code == 1, f"exit status {code}, expected 1; stderr: {stderr!r}")
    number = re.fullmatch(r"Error (\d+): (.*)", error)
    report = f"quorvel-extractor: {file}: " + (f"{number[2]} (error {number[1]})" if number else error) + "\n"
    expect(report in stderr, f"stderr lacks {report!r}; it was {stderr!r}")


def expect_outputs(game, folder, expected):
    found = game.outputs(folder)
    expect(found == expected,
           f"{folder} holds {describe(found)}, expected {describe(expected)}")


def describe(outputs):
    return {name: (len(data) if isinstance(data, bytes) else data) for name, data in outputs.items()}


def expect_only_archives_and_folders(game):
    """Nothing is written beside the archives but the two output folders."""
    extra = set(os.listdir(game.folder)) - {"sfx.pak", "speech.pak", "sfx", "speech"}
    expect(not extra, f"the game folder has new entries: {sorted(extra)}")


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def unprivileged():
    """A way to run the program without root's right to ignore permissions."""
    return as_nobody if os.geteuid() == 0 else None


def wait_for(predicate, process, limit=120.0):
    """Polls until predicate() holds; False if the process ended first or
    the generous limit passed."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.001)
    return False


def digest_outputs(game, folder):
    digests = {}
    base = game.path(folder)
    for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        with open(os.path.join(base, name), "rb") as file:
            digests[name] = hashlib.sha256(file.read()).hexdigest()
    return digests


# --- Holding a running program still ----------------------------------------
#
# A case that races the program (a signal, a cut or replaced archive) never
# guesses when the program is busy: it waits for an output the program shows,
# one in the first half of the run, freezes the program there with SIGSTOP,
# checks that the kernel shows it stopped with its last output still to come,
# injects the fault and lets it go on with SIGCONT. Whatever the load on the
# machine, the fault then meets a program with much of the archive still to
# read, so every attempt has one exact outcome.

def count_outputs(game):
    folder = game.path("sfx")
    return len(os.listdir(folder)) if os.path.isdir(folder) else 0


def process_state(pid):
    with open(f"/proc/{pid}/stat") as stat_file:
        # The state follows the command name, which is in parentheses.
        return stat_file.read().rpartition(")")[2].split()[0]


def freeze(process, limit=60.0):
    """SIGSTOP, then waits until /proc shows the program stopped ("T")."""
    process.send_signal(signal.SIGSTOP)
    deadline = time.monotonic() + limit
    while True:
        # send_signal reaps a program that had already ended.
        expect(process.returncode is None, f"the run ended (status {process.returncode}) before it could be frozen")
        state = process_state(process.pid)
        if state == "T":
            return
        expect(state != "Z", "the run ended before it could be frozen")
        expect(time.monotonic() < deadline, f"SIGSTOP did not stop the program (state {state})")
        time.sleep(0.001)


def freeze_at_output(game, process, count, total):
    """Freezes the program once its output `count` has appeared; returns how
    many outputs there were then, fewer than the `total` of a whole run."""
    expect(wait_for(lambda: count_outputs(game) >= count, process),
           f"the program ended (status {process.returncode}) or stalled before its output {count} appeared")
    freeze(process)
    made = count_outputs(game)
    print(f"  frozen with {made} of {total} outputs made (waited for {count})")
    expect(made < total, "the run had reached its last output when frozen: too late for a fault mid-run")
    return made


def thaw(process):
    process.send_signal(signal.SIGCONT)


def archive_read_limit(process):
    """How far into sfx.pak the frozen program can have got. Where it maps
    the archive, a block past the end of the window it has mapped (from
    /proc/PID/maps): the block after the window may be being copied inside
    the kernel; where it reads, its descriptor's offset (/proc/PID/fdinfo)."""
    for line in open(f"/proc/{process.pid}/maps"):
        fields = line.split(maxsplit=5)
        if len(fields) == 6 and os.path.basename(fields[5].strip()) == "sfx.pak":
            start, end = (int(address, 16) for address in fields[0].split("-"))
            offset = int(fields[2], 16)
            return offset + (end - start) + BIG_SFX_BLOCK
    for descriptor in os.listdir(f"/proc/{process.pid}/fd"):
        try:
            target = os.readlink(f"/proc/{process.pid}/fd/{descriptor}")
        except FileNotFoundError:
            continue
        if os.path.basename(target) == "sfx.pak":
            with open(f"/proc/{process.pid}/fdinfo/{descriptor}") as info:
                for line in info:
                    if line.startswith("pos:"):
                        return int(line.split()[1])
    raise CaseFailed("the frozen program has no sfx.pak open")


def finish(process):
    """Waits for the program to end; returns its exit status and stderr."""
    try:
        _, stderr = process.communicate(timeout=300)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        raise CaseFailed("the program hung after it was let go on")
    return process.returncode, stderr.decode(errors="replace")


def expect_first_files_intact(game, expected):
    """The files left are the first ones of an uninterrupted run, each with
    the same bytes: the one being written when the run stopped is gone."""
    found = digest_outputs(game, "sfx")
    expect(list(found) == list(expected)[:len(found)], f"the files kept are not the first ones: {list(found)}")
    for name, digest in found.items():
        expect(digest == expected[name], f"{name} was kept but differs from the uninterrupted run's")
    return len(found)


# --- Cases -------------------------------------------------------------------

def file_size_limit_mid_file(game):
    """Past RLIMIT_FSIZE a write fails: an error, not death by SIGXFSZ."""
    limit = 100 * 1024

    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    code, stderr = game.small().run("-y", preexec=limit_file_size)
    expect(code != -signal.SIGXFSZ, "the program died of SIGXFSZ")
    expect_failure(code, stderr, "Error 27: File too large", "sfx/sfx_0005")
    expect_outputs(game, "sfx", game.first_files(4))
    expect(not os.path.exists(game.path("speech")), "speech was started after the failure")
    expect_only_archives_and_folders(game)
    return 1


def disk_full_on_small_tmpfs(game):
    """The output folder is a 64 KiB file system that fills up at sfx_0005."""
    os.mkdir(game.path("sfx"))
    game.mount("-t", "tmpfs", "-o", "size=64k", "tmpfs", game.path("sfx"))
    code, stderr = game.small().run("-y")
    expect_failure(code, stderr, "Error 28: No space left on device", "sfx/sfx_0005")
    expect_outputs(game, "sfx", game.first_files(4))
    return 1


def output_folder_cannot_be_made(game):
    """The game folder is not writable (the program runs as an unprivileged
    user): the folder is not made, and the report names it and the real
    cause, not the missing folder's first file."""
    game.small()
    os.chmod(game.folder, 0o555)
    code, stderr = game.run("-y", preexec=unprivileged())
    expect_failure(code, stderr, "Error 13: Permission denied", "sfx")
    expect(not os.path.exists(game.path("sfx")), "the folder was made")
    return 1


def output_name_taken_by_directory(game):
    os.makedirs(game.path("sfx/sfx_0002.wav"))
    code, stderr = game.small().run("-y")
    expect_failure(code, stderr, "Error 21: Is a directory", "sfx/sfx_0002.wav")
    expected = game.first_files(1)
    expected["sfx/sfx_0002.wav"] = "other"
    expect_outputs(game, "sfx", expected)
    expect(os.listdir(game.path("sfx/sfx_0002.wav")) == [], "something was written into the directory")
    return 1


def read_only_folder_by_bind_mount(game):
    """Root ignores permissions, but not a read-only mount."""
    os.mkdir(game.path("sfx"))
    game.mount("--bind", game.path("sfx"), game.path("sfx"))
    game.mount("-o", "remount,bind,ro", game.path("sfx"))
    code, stderr = game.small().run("-y")
    expect_failure(code, stderr, "Error 30: Read-only file system", "sfx/sfx_0001.AVQF")
    expect_outputs(game, "sfx", {})
    return 1


def read_only_folder_for_unprivileged_user(game):
    os.mkdir(game.path("sfx"), 0o555)
    os.chmod(game.path("sfx"), 0o555)
    code, stderr = game.small().run("-y", preexec=unprivileged())
    expect_failure(code, stderr, "Error 13: Permission denied", "sfx/sfx_0001.AVQF")
    expect_outputs(game, "sfx", {})
    return 1


def planted_link_to_a_file_elsewhere(game):
    """Someone links sfx_0003 to a file of theirs: it is reported, and
    neither the link nor the file it points to changes."""
    victim = os.path.join(game.root, "victim")
    with open(victim, "wb") as file:
        file.write(b"must stay as it is")
    os.mkdir(game.path("sfx"))
    os.symlink(victim, game.path("sfx/sfx_0003"))
    code, stderr = game.small().run("-y")
    expect_failure(code, stderr, "the name is a symbolic link; the extractor never writes through links",
                   "sfx/sfx_0003")
    with open(victim, "rb") as file:
        expect(file.read() == b"must stay as it is", "the link's target was changed")
    expect(os.readlink(game.path("sfx/sfx_0003")) == victim, "the link was changed")
    expected = game.first_files(2)
    expected["sfx/sfx_0003"] = "link"
    expect_outputs(game, "sfx", expected)
    return 1


def dangling_link_is_not_followed(game):
    """A link to a file that does not exist yet must not create it."""
    target = os.path.join(game.root, "made-through-link")
    os.mkdir(game.path("sfx"))
    os.symlink(target, game.path("sfx/sfx_0001.AVQF"))
    code, stderr = game.small().run("-y")
    expect_failure(code, stderr, "the name is a symbolic link; the extractor never writes through links",
                   "sfx/sfx_0001.AVQF")
    expect(not os.path.lexists(target), "the link's target was created")
    return 1


def archive_is_a_directory(game):
    os.mkdir(game.path("sfx.pak"))
    game.make(speech=SPEECH)
    code, stderr = game.run("-y")
    expect_failure(code, stderr, "Error 21: Is a directory", "sfx.pak")
    expect(not os.path.exists(game.path("sfx")), "the output folder was made")
    return 1


def archive_is_a_fifo(game):
    """Nobody writes to the FIFO: the program must not wait for a writer."""
    os.mkfifo(game.path("sfx.pak"))
    game.make(speech=SPEECH)
    code, stderr = game.run("-y", timeout=30)
    expect_failure(code, stderr, "not a regular file", "sfx.pak")
    expect(not os.path.exists(game.path("sfx")), "the output folder was made")
    return 1


def reference_run(game):
    """Extracts the big archive once, uninterrupted; returns the digests of
    its files, in number order."""
    reference = Game(game.program, game.generator)
    try:
        shutil.copy2(game.path("sfx.pak"), reference.path("sfx.pak"))
        code, stderr = reference.run("-n", timeout=300)
        expect(code == 0, f"the uninterrupted run failed ({code}): {stderr!r}")
        return digest_outputs(reference, "sfx")
    finally:
        reference.close()


def entry_offsets(game):
    """Where each file of sfx.pak starts in it, from the program's listing."""
    listing = subprocess.run([game.program, "--list", "--json", "-n"], cwd=game.folder, capture_output=True, check=True)
    entries = [json.loads(line) for line in listing.stdout.splitlines()]
    return [entry["offset"] for entry in entries if "offset" in entry]


def seeded_random():
    seed = int(os.environ.get("QUORVEL_FAULT_SEED", time.time_ns() % 1_000_000))
    print(f"random seed {seed} (set QUORVEL_FAULT_SEED={seed} to repeat)")
    return random.Random(seed)


def archive_shrinks_while_read(game):
    """Cut the archive short while the program reads it: an error naming the
    archive, and every file kept equal to an uninterrupted run's. Once the
    cut falls behind the frozen program's read position (the bytes it reads
    next are gone), once ahead of it (it reads on, up to the new end)."""
    game.make(sfx=BIG_SFX)
    expected = reference_run(game)
    starts = entry_offsets(game)
    chance = seeded_random()
    for attempt, where in enumerate(["behind", "ahead of"]):
        shutil.rmtree(game.path("sfx"), ignore_errors=True)
        if attempt:
            game.make(sfx=BIG_SFX)
        process = game.start("-n")
        # From the 2nd output on, the program has read past the 4 MiB first block.
        made = freeze_at_output(game, process, chance.randint(2, 3), len(expected))
        if where == "behind":
            # It has got at least to where the last file it made starts.
            cut = chance.randint(1 << 20, starts[made - 1] - 1)
        else:
            cut = archive_read_limit(process) + chance.randint(1 << 20, 8 << 20)
        print(f"  cutting the archive to {cut} bytes, {where} the read position")
        os.truncate(game.path("sfx.pak"), cut)
        thaw(process)
        code, stderr = finish(process)
        expect(code == 1, f"exit status {code}, expected 1; stderr: {stderr!r}")
        expect("quorvel-extractor: sfx.pak (offset " in stderr and "ended early" in stderr, f"stderr was {stderr!r}")
        # What was finished before the cut is whole.
        kept = expect_first_files_intact(game, expected)
        print(f"  {kept} files kept")
        expect(kept >= made - 1, f"{kept} files kept, {made} made when frozen: finished files were removed")
        expect_only_archives_and_folders(game)
    return 2


def archive_replaced_while_read(game):
    """Renaming another file over the archive mid-run does not disturb the
    program: it goes on reading the archive it opened."""
    game.make(sfx=BIG_SFX)
    expected = reference_run(game)
    other = os.path.join(game.root, "other")
    os.mkdir(other)
    game.make(sfx='block "AVQFnot this one"; final', into=other)
    process = game.start("-n")
    freeze_at_output(game, process, 2, len(expected))
    os.replace(os.path.join(other, "sfx.pak"), game.path("sfx.pak"))
    thaw(process)
    code, stderr = finish(process)
    expect(code == 0, f"exit status {code}; stderr: {stderr!r}")
    expect(digest_outputs(game, "sfx") == expected, "the outputs differ from the uninterrupted run's")
    return 1


def stopped_by_signal(game, signal_number, exit_status):
    """The signal at random points, each while the program is frozen mid-run:
    exit 128 + signal, within a chunk; the file being written removed,
    finished files intact; a second run completes the output."""
    game.make(sfx=BIG_SFX)
    expected = reference_run(game)
    chance = seeded_random()
    attempts = 4
    for _ in range(attempts):
        shutil.rmtree(game.path("sfx"), ignore_errors=True)
        process = game.start("-n")
        # Within the first half: whatever the load, the rest of the archive
        # leaves the program a long way from its end when the signal is seen.
        made = freeze_at_output(game, process, chance.randint(1, len(expected) // 2), len(expected))
        process.send_signal(signal_number)
        thaw(process)
        code, stderr = finish(process)
        expect(code == exit_status, f"exit status {code}, expected {exit_status}; stderr: {stderr!r}")
        kept = expect_first_files_intact(game, expected)
        print(f"  {kept} files kept")
        # Files 1 to made-1 were closed before the freeze; the run then goes
        # at most one chunk on, which may finish a sound and its tail.
        expect(kept >= made - 1, f"{kept} files kept, {made} made when frozen: finished files were removed")
        expect(kept <= made + 1, f"{kept} files kept, {made} made when frozen: the run did not stop at the next chunk")
        code, stderr = game.run("-n", timeout=300)
        expect(code == 0, f"the second run failed ({code}): {stderr!r}")
        expect(digest_outputs(game, "sfx") == expected, "the second run's outputs differ")
        expect_only_archives_and_folders(game)
    print(f"{attempts} of {attempts} signals stopped the run")
    return attempts


def sigint_at_random_points(game):
    return stopped_by_signal(game, signal.SIGINT, 130)


def sigterm_at_random_points(game):
    return stopped_by_signal(game, signal.SIGTERM, 143)


def sighup_at_random_points(game):
    """The terminal closed: the run stops as for SIGTERM."""
    return stopped_by_signal(game, signal.SIGHUP, 129)


def rerun_stopped_keeps_every_old_file(game):
    """A rerun over an earlier extraction, stopped by Ctrl-C or killed at
    random points while frozen mid-run: every old file is still there,
    either as it was or wholly replaced, never removed or cut; Ctrl-C
    leaves no temporary file behind."""
    game.make(sfx=BIG_SFX)
    expected = reference_run(game)
    chance = seeded_random()

    def marker(name):
        return b"old file " + name.encode()

    def replaced():
        return sum(1 for name in expected if os.path.getsize(game.path(os.path.join("sfx", name))) != len(marker(name)))

    attempts = 0
    for signal_number, exit_status in ((signal.SIGINT, 130), (signal.SIGKILL, -signal.SIGKILL)) * 2:
        shutil.rmtree(game.path("sfx"), ignore_errors=True)
        code, stderr = game.run("-n", timeout=300)
        expect(code == 0, f"the first run failed ({code}): {stderr!r}")
        for name in expected:
            with open(game.path(os.path.join("sfx", name)), "wb") as file:
                file.write(marker(name))
        process = game.start("-n")
        target = chance.randint(1, len(expected) // 2)
        expect(wait_for(lambda: replaced() >= target, process),
               f"the rerun ended (status {process.returncode}) before it replaced {target} files")
        freeze(process)
        process.send_signal(signal_number)
        thaw(process)
        code, stderr = finish(process)
        expect(code == exit_status, f"exit status {code}, expected {exit_status}; stderr: {stderr!r}")
        names = sorted(name for name in os.listdir(game.path("sfx")) if not name.startswith("."))
        expect(names == sorted(expected), f"old files are missing: {sorted(set(expected) - set(names))}")
        old = 0
        for name in expected:
            with open(game.path(os.path.join("sfx", name)), "rb") as file:
                data = file.read()
            if data == marker(name):
                old += 1
            else:
                expect(hashlib.sha256(data).hexdigest() == expected[name], f"{name} is neither old nor new")
        left = [name for name in os.listdir(game.path("sfx")) if name.startswith(".")]
        if signal_number == signal.SIGINT:
            expect(not left, f"temporary files are left: {left}")
        print(f"  {signal.Signals(signal_number).name}: {len(expected) - old} files replaced, {old} as they were,"
              f" {len(left)} temporary left")
        expect(0 < old < len(expected), "the run was not stopped mid-way")
        attempts += 1
    return attempts


def valgrind_end_to_end(game):
    """The whole run on a sample game under memcheck: no error, no leak."""
    subprocess.run([game.generator, "--profile", "sample", "--seed", "5", game.folder], check=True,
                   stdout=subprocess.DEVNULL)
    suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "valgrind.supp")
    result = subprocess.run(["valgrind", "--error-exitcode=99", "--leak-check=full", "--errors-for-leak-kinds=all",
                             "--suppressions=" + suppressions, game.program, "-y"], cwd=game.folder, stdin=subprocess.DEVNULL, capture_output=True,
                            text=True, timeout=1200)
    expect(result.returncode == 0, f"exit status {result.returncode}; valgrind said:\n{result.stderr[-4000:]}")
    expect("ERROR SUMMARY: 0 errors" in result.stderr, "valgrind reported errors")
    expect(os.listdir(game.path("sfx")) and os.listdir(game.path("speech")), "nothing was extracted")
    expect_only_archives_and_folders(game)
    return 0


# --- Packing: the archives stay as they were -----------------------------------

def archive_digests(game):
    digests = {}
    for name in ("sfx.pak", "speech.pak"):
        with open(game.path(name), "rb") as file:
            digests[name] = hashlib.sha256(file.read()).hexdigest()
    return digests


def expect_archives_untouched(game, before, packed=()):
    """The archives hold the same bytes; only those `packed` have a backup."""
    expect(archive_digests(game) == before, "an archive was changed")
    left = sorted(name for name in os.listdir(game.folder)
                  if name.endswith(".tmp") or name.endswith(".bak") and name[:-4] not in packed)
    expect(not left, f"the pack left {left} beside the archives")


def extracted_small_game(game):
    game.small()
    code, stderr = game.run("-y")
    expect(code == 0, f"the extraction failed ({code}): {stderr!r}")
    return archive_digests(game)


def pack_in_read_only_game_folder(game):
    """No temporary file can be made beside the archives: the folder is
    named, the archives stay as they were."""
    before = extracted_small_game(game)
    os.chmod(game.folder, 0o555)
    code, stderr = game.run("--pack", preexec=unprivileged())
    os.chmod(game.folder, 0o755)
    expect_failure(code, stderr, "Error 13: Permission denied", ".")
    expect("quorvel-extractor: sfx.pak was left as it was: it could not be packed\n" in stderr,
           f"stderr does not say sfx.pak was left as it was: {stderr!r}")
    expect_archives_untouched(game, before)
    return 1


def pack_on_a_full_disk(game):
    """The game folder is a small file system with room for the game and
    its extraction but not for a new sfx.pak: an error, sfx.pak as it was,
    no temporary file left."""
    before = extracted_small_game(game)
    disk = os.path.join(game.root, "disk")
    os.mkdir(disk)
    game.mount("-t", "tmpfs", "-o", "size=512k", "tmpfs", disk)
    shutil.copytree(game.folder, disk, dirs_exist_ok=True)
    game.folder = disk
    code, stderr = game.run("--pack")
    expect(code == 1, f"exit status {code}, expected 1; stderr: {stderr!r}")
    expect("No space left on device (error 28)\n" in stderr, f"stderr lacks the full disk: {stderr!r}")
    # The small speech.pak still fits, and is packed.
    expect_archives_untouched(game, before, packed=("speech.pak",))
    return 1


def pack_stopped_by_signal(game, signal_number, exit_status):
    """The signal while the new archive is being written, at random points,
    each while the program is frozen: exit 128 + signal, the archive as it
    was, and no temporary file or backup left."""
    game.make(sfx=BIG_SFX, speech=SPEECH)
    code, stderr = game.run("-y", timeout=300)
    expect(code == 0, f"the extraction failed ({code}): {stderr!r}")
    before = archive_digests(game)
    size = os.path.getsize(game.path("sfx.pak"))
    chance = seeded_random()
    attempts = 3

    def temporary_size():
        names = [name for name in os.listdir(game.folder) if name.endswith(".tmp")]
        return os.path.getsize(game.path(names[0])) if names else -1

    for _ in range(attempts):
        process = game.start("--pack")
        target = chance.randint(1, size // 2)
        expect(wait_for(lambda: temporary_size() >= target, process),
               f"the pack ended (status {process.returncode}) before its new archive reached {target} bytes")
        freeze(process)
        written = temporary_size()
        print(f"  frozen with {written} of {size} bytes of the new archive written (waited for {target})")
        expect(0 <= written < size, "the new archive was complete when frozen: too late for a stop mid-write")
        process.send_signal(signal_number)
        thaw(process)
        code, stderr = finish(process)
        expect(code == exit_status, f"exit status {code}, expected {exit_status}; stderr: {stderr!r}")
        expect("quorvel-extractor: sfx.pak was left as it was: stopped\n" in stderr, f"stderr: {stderr!r}")
        expect_archives_untouched(game, before)
    print(f"{attempts} of {attempts} stops left the archives as they were")
    return attempts


def pack_stopped_by_sigint(game):
    return pack_stopped_by_signal(game, signal.SIGINT, 130)


def pack_stopped_by_sighup(game):
    """The terminal closed mid-pack: stopped as Ctrl-C stops it."""
    return pack_stopped_by_signal(game, signal.SIGHUP, 129)


CASES = {case.__name__: case for case in [
    file_size_limit_mid_file, disk_full_on_small_tmpfs, output_folder_cannot_be_made,
    output_name_taken_by_directory, read_only_folder_by_bind_mount, read_only_folder_for_unprivileged_user,
    planted_link_to_a_file_elsewhere, dangling_link_is_not_followed, archive_is_a_directory, archive_is_a_fifo,
    archive_shrinks_while_read, archive_replaced_while_read, sigint_at_random_points, sigterm_at_random_points,
    sighup_at_random_points, rerun_stopped_keeps_every_old_file, valgrind_end_to_end, pack_in_read_only_game_folder, pack_on_a_full_disk,
    pack_stopped_by_sigint, pack_stopped_by_sighup,
]}


def main():
    if sys.argv[1:] == ["--list"]:
        print(" ".join(CASES))
        return 0
    if len(sys.argv) != 4 or sys.argv[2] not in CASES:
        print(__doc__ + "\nCases: " + " ".join(CASES), file=sys.stderr)
        return 2
    game = Game(sys.argv[1], sys.argv[3])
    try:
        faults = CASES[sys.argv[2]](game)
    except CannotRunHere as reason:
        print(f"SKIP [{sys.argv[2]}]: {reason}")
        return SKIP
    except CaseFailed as failure:
        print(f"FAIL [{sys.argv[2]}]: {failure}", file=sys.stderr)
        return 1
    finally:
        game.close()
    print(f"faults injected: {faults}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
