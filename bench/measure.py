#!/usr/bin/env python3
"""Whole-program benchmarks of quorvel-extractor against cp and tar -xf.

Called by bench/run.sh, which builds the programs first. For each input it
generates the game folder, then runs the extractor and its references on the
same bytes, alternating A B C A B C, and keeps every run's wall time, CPU time
and peak resident memory (the kernel's ru_maxrss from wait4, the figure
/usr/bin/time -v reports). Writes results.json, results.md and time-vs-size.png.
"""

import argparse
import json
import os
import platform
import pty
import shutil
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

MIB = 1 << 20
GIB = 1 << 30

# Targets, as ratios measured side by side in one run.
LARGE_ENTRY_LIMIT = 1.10  # x cp
# Large sounds, several to a RIFF block: x cp with the cache warm, and cold.
LARGE_SOUNDS_WARM_LIMIT = 1.30
LARGE_SOUNDS_COLD_LIMIT = 1.05
LARGE_SOUNDS_ROUNDS = 9  # at least, alternated
SMALL_ENTRY_LIMIT = 1.00  # x tar -xf
RSS_LIMIT_KIB = 16 * 1024
LINEAR_SLACK = 1.10  # doubling the input may double the time, +10 %
PROGRESS_LIMIT = 0.02
MANY_FILES = 1000
# Listing skips whole blocks: a tenth of extracting data blocks; for
# sounds, which must be searched either way, no slower than extracting.
LISTING_DATA_LIMIT = 0.10
LISTING_SOUND_LIMIT = 1.00
# Packing the extracted folder back: walk, write, verify and flush to disk,
# against extracting the same archive.
PACK_LIMIT = 1.50
# A rerun over an earlier extraction, each old file replaced only once its
# new one is whole, against tar -xf over its own earlier output.
RERUN_LIMIT = 1.00
# Choosing one file reads what the listing reads and that file: from a cold
# cache, the archive's pages brought in, beyond the listing's and the file's
# own, stay within the read-ahead of a few windows.
CHOSEN_READ_SLACK = 16 * MIB
# Exporting every sound as FLAC, against what a user does without it:
# extract, then run ffmpeg on every sound, one after the other.
EXPORT_LIMIT = 1 / 3
EXPORT_RSS_LIMIT_KIB = 32 * 1024
# The reference takes minutes on the full game (an ffmpeg per sound): its
# median of a few rounds is enough for a ratio that far from 1.
EXPORT_REFERENCE_ROUNDS = 2


@dataclass
class Case:
    key: str  # (a) .. (e)
    name: str
    profile: str
    size: str  # as quorvel-make-sample --size takes it
    speech: bool  # answer Yes: speech.pak is extracted too
    kind: str  # "large" entries (vs cp) or "small" (vs tar)
    progress: bool = False  # also compare drawing the bar to a terminal
    pack: float = 0  # also time --pack of the extracted folder, whose time may be this many times extracting
    listing: float = 0  # also time --list, whose time may be this share of extracting
    rerun: bool = False  # also time the tool and tar -xf over their own earlier outputs
    choose_one: bool = False  # also extract one file of the middle, and count the archive's pages it reads
    layout: str = ""  # sfx.pak from this layout instead of a profile
    cold_too: bool = False  # also run the tool and cp with the page cache dropped, where allowed
    warm_limit: float = LARGE_ENTRY_LIMIT
    # Also time --export flac: "ffmpeg" against extracting and then ffmpeg on
    # every sound, "memory" for its time and peak memory alone.
    export: str = ""


@dataclass
class Run:
    wall: float
    user: float
    system: float
    max_rss_kib: int


@dataclass
class Result:
    case: Case
    input_bytes: int
    output_files: int
    runs: dict = field(default_factory=dict)  # variant -> [Run]
    pages_read: dict = field(default_factory=dict)  # variant -> bytes of the archives read from a cold cache
    chosen_file_bytes: int = 0

    def median(self, variant, attribute="wall"):
        return statistics.median(getattr(run, attribute) for run in self.runs[variant])

    def median_cpu(self, variant):
        return statistics.median(run.user + run.system for run in self.runs[variant])

    def peak_rss(self, variant):
        return max(run.max_rss_kib for run in self.runs[variant])


def cases(quick):
    """The inputs, in their full or their quick size: (size as the generator
    takes it, size as a person reads it)."""
    def size(full, small):
        return small if quick else full
    game = size(("1G", "1 GiB"), ("64M", "64 MiB"))
    huge = size(("1536M", "1.5 GiB"), ("96M", "96 MiB"))
    tiny = size(("200000", "200,000"), ("20000", "20,000"))
    worst = size(("256M", "256 MiB"), ("32M", "32 MiB"))
    data_blocks = size(256, 16)  # of 4 MiB
    large_mib = sum(LARGE_SOUNDS_MIB) + 1
    large_sounds = size(("large", f"{large_mib} MiB"), ("large-quick", f"{large_mib / 8:.0f} MiB"))
    sounds = size((1, 10, 100, 1000), (1, 4, 16, 64))
    return [
        Case("a", f"realistic game, {game[1]}", "game", game[0], True, "large", progress=True, export="ffmpeg"),
        Case("b", f"one sound of {huge[1]} and 5/12 more", "huge-sound", huge[0], False, "large", pack=PACK_LIMIT,
             export="memory"),
        Case("c", f"{tiny[1]} tiny blocks", "tiny-blocks", tiny[0], False, "small", progress=True, rerun=True),
        Case("d", f"search worst case, {worst[1]}", "search-worst", worst[0], False, "large"),
    ] + [Case("e", f"one sound of {mib} MiB", "sound", f"{mib}M", False, "large",
              listing=LISTING_SOUND_LIMIT if mib == sounds[-1] else 0) for mib in sounds] + [
        Case("f", f"{data_blocks * 4} MiB of data blocks", "layout", f"{data_blocks * 4}M", False, "large",
             listing=LISTING_DATA_LIMIT, choose_one=True,
             layout=f'repeat {data_blocks} {{ block "DATA" noise(4M) }}; final'),
        Case("g", f"large sounds, {large_sounds[1]}", "layout", large_sounds[0], False, "large", cold_too=True,
             warm_limit=LARGE_SOUNDS_WARM_LIMIT, pack=PACK_LIMIT, layout=large_sounds_layout(quick))]


LARGE_SOUNDS_MIB = [8, 40, 2, 64, 1, 30, 17, 5, 60, 50, 12, 33, 3, 48, 25, 9, 64]
LARGE_SOUNDS_BLOCKS = [[0, 1, 2], [3, 4], [5, 6, 7, 8], [9, 10, 11], [12], [13, 14, 15], [16]]


def large_sounds_layout(quick):
    """Sounds of 1 to 64 MiB (an eighth of that, quick), several to a RIFF
    block with stray bytes between them, and one data block: the input where
    the bytes, not the files, set the time."""
    def wav(index):
        return f"wav({LARGE_SOUNDS_MIB[index] * 128}K)" if quick else f"wav({LARGE_SOUNDS_MIB[index]}M)"
    items = ["block " + f" noise({97 * (number + 1)}) ".join(wav(index) for index in sounds)
             for number, sounds in enumerate(LARGE_SOUNDS_BLOCKS)]
    items.insert(4, 'block "DATA" noise(1M)')
    return "; ".join(items) + "; final"


class Harness:
    def __init__(self, args):
        self.args = args
        self.tool = Path(args.tool).resolve()
        self.maker = Path(args.maker).resolve()
        self.may_drop_caches = self.can_drop_caches()
        self.cold = args.cold and self.may_drop_caches
        self.noisy_notes = []
        self.set_aside = 0

    @staticmethod
    def can_drop_caches():
        try:
            os.sync()
            with open("/proc/sys/vm/drop_caches", "w") as control:
                control.write("3\n")
            return True
        except OSError:
            return False

    def settle(self, inputs, cold=False):
        """Before every timed run: earlier runs' dirty pages go to disk, and
        the inputs are either all in the page cache or, cold, none of them."""
        os.sync()
        if self.cold or cold:
            with open("/proc/sys/vm/drop_caches", "w") as control:
                control.write("3\n")
        else:
            for path in inputs:
                with open(path, "rb") as source:
                    while source.read(8 * MIB):
                        pass

    @staticmethod
    def timed(argv, cwd, stdin_text=b"", stderr_to_terminal=False):
        """Runs argv and returns its Run; fails loudly on a non-zero exit."""
        stdin_read, stdin_write = os.pipe()
        os.write(stdin_write, stdin_text)
        os.close(stdin_write)
        devnull = os.open(os.devnull, os.O_WRONLY)
        drain = None
        if stderr_to_terminal:
            master, slave = pty.openpty()
            stderr = slave

            def read_all():
                try:
                    while os.read(master, 65536):
                        pass
                except OSError:
                    pass  # the terminal closed with the program

            drain = threading.Thread(target=read_all, daemon=True)
            drain.start()
        else:
            stderr = devnull
        # /usr/bin/time reports the command's own peak memory: a child of
        # this script would inherit the script's high-water mark from before exec.
        rss_file = Path(cwd).resolve() / ".peak-rss"
        argv = ["/usr/bin/time", "-f", "%M", "-o", str(rss_file), *argv]
        start = time.perf_counter()
        process = subprocess.Popen(argv, cwd=cwd, stdin=stdin_read, stdout=devnull, stderr=stderr)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        max_rss_kib = int(rss_file.read_text().split()[-1])
        rss_file.unlink()
        os.close(stdin_read)
        os.close(devnull)
        if drain is not None:
            os.close(slave)
            drain.join(timeout=5)
            os.close(master)
        if process.returncode != 0:
            raise RuntimeError(f"{' '.join(argv[5:])} exited with {process.returncode} in {cwd}")
        return Run(wall, usage.ru_utime, usage.ru_stime, max_rss_kib)

    def generate(self, case, folder):
        if folder.exists():
            shutil.rmtree(folder)
        what = ["--sfx", case.layout] if case.layout else ["--profile", case.profile, "--size", case.size]
        subprocess.run([str(self.maker), *what, str(folder)], check=True, stdout=subprocess.DEVNULL)

    @staticmethod
    def archives(case, folder):
        names = ["sfx.pak", "speech.pak"] if case.speech else ["sfx.pak"]
        return [folder / name for name in names]

    @staticmethod
    def outputs(case):
        return ["sfx", "speech"] if case.speech else ["sfx"]

    def clear(self, folder, names):
        for name in names:
            path = folder / name
            if path.is_dir() and self.holds_many_files(path):
                # ext4 without a journal passes over inodes freed in the last
                # minutes when it makes new ones: deleting thousands of files
                # before a run would slow that run and the next inputs' down.
                # They are set aside and deleted once everything is measured.
                self.set_aside += 1
                aside = Path(self.args.data) / "set-aside"
                aside.mkdir(exist_ok=True)
                path.rename(aside / str(self.set_aside))
            elif path.is_dir():
                shutil.rmtree(path)
            elif path.exists():
                path.unlink()

    def measure(self, case):
        folder = Path(self.args.data) / f"{case.key}-{case.profile}-{case.size}"
        print(f"({case.key}) {case.name}: generating", flush=True)
        self.generate(case, folder)
        archives = self.archives(case, folder)
        answer = b"y\n" if case.speech else b"n\n"
        tool_argv = [str(self.tool)]

        # The reference archive for tar holds exactly what the tool writes.
        self.clear(folder, self.outputs(case))
        self.timed(tool_argv, folder, answer)
        output_files = sum(len(os.listdir(folder / name)) for name in self.outputs(case))
        subprocess.run(["tar", "-cf", "reference.tar", *self.outputs(case)], cwd=folder, check=True)

        variants = {
            "tool": lambda: self.timed(tool_argv, folder, answer),
            "cp": lambda: self.timed(["cp", "--reflink=never", *[a.name for a in archives], "cp-out"], folder),
            "tar -xf": lambda: self.timed(["tar", "-xf", "reference.tar", "-C", "tar-out"], folder),
        }
        if case.progress:
            variants["tool, bar on a terminal"] = lambda: self.timed(tool_argv, folder, answer, True)
        if case.listing:
            variants["tool --list"] = lambda: self.timed(tool_argv + ["--list", "-y" if case.speech else "-n"], folder)
        middle = f"sfx:{max(output_files // 2, 1)}"
        if case.choose_one:
            variants["tool, one file"] = lambda: self.timed(tool_argv + ["-n", "-q", middle], folder)
        if case.pack:
            # Runs after "tool" in each round, on the folder it extracted;
            # the backup a pack keeps is removed before the next.
            variants["tool --pack"] = lambda: self.timed(tool_argv + ["--pack"], folder)
            # The floor of a pack, which must have its archive on disk
            # before it may replace the old one: a copy that is flushed.
            variants["dd, flushed"] = lambda: self.timed(
                ["dd", f"if={archives[0].name}", "of=dd-out/copy", "bs=4M", "conv=fsync", "status=none"], folder)
        if case.export:
            variants["tool --export flac"] = lambda: self.timed(
                tool_argv + ["--export", "flac", "-y" if case.speech else "-n", "-q"], folder)
        if case.export == "ffmpeg" and shutil.which("ffmpeg"):
            each = " ".join(f"{name}/*.wav" for name in self.outputs(case))
            variants["extract + ffmpeg"] = lambda: self.timed(
                ["bash", "-c", f'"$0" {"-y" if case.speech else "-n"} -q && for f in {each}; do '
                 'ffmpeg -nostdin -loglevel error -i "$f" "${f%.wav}.flac" || exit; done', str(self.tool)], folder)
        elif case.export == "ffmpeg":
            self.noisy_notes.append(f"({case.key}) no ffmpeg (Debian: ffmpeg): the export was not compared")
        if case.rerun:
            # Each after its first run in the round, over what that run wrote.
            variants["tool, rerun"] = variants["tool"]
            variants["tar -xf, rerun"] = variants["tar -xf"]
        scratch = {"tool": self.outputs(case), "tool, bar on a terminal": self.outputs(case), "tool --list": [],
                   "tool, one file": self.outputs(case), "tool, rerun": [], "tar -xf, rerun": [],
                   "cp": ["cp-out"], "tar -xf": ["tar-out"], "tool --pack": [f"{a.name}.bak" for a in archives],
                   "dd, flushed": ["dd-out"], "tool --export flac": ["export"],
                   "extract + ffmpeg": self.outputs(case)}
        inputs = {"tool": archives, "tool --pack": archives, "tool, bar on a terminal": archives,
                  "tool --list": archives, "cp": archives, "dd, flushed": archives, "tool, one file": archives,
                  "tool, rerun": archives, "tar -xf": [folder / "reference.tar"],
                  "tar -xf, rerun": [folder / "reference.tar"], "tool --export flac": archives,
                  "extract + ffmpeg": archives}
        rounds = self.args.repetitions
        if case.cold_too and self.may_drop_caches and not self.cold:
            for name in ("tool", "cp"):
                variants[f"{name}, cold cache"] = variants[name]
                scratch[f"{name}, cold cache"] = scratch[name]
                inputs[f"{name}, cold cache"] = inputs[name]
        if case.cold_too:
            rounds = max(rounds, LARGE_SOUNDS_ROUNDS)

        result = Result(case, sum(a.stat().st_size for a in archives), output_files)
        for repetition in range(rounds):
            for variant, run in variants.items():
                if variant == "extract + ffmpeg" and repetition >= EXPORT_REFERENCE_ROUNDS:
                    continue
                self.clear(folder, scratch[variant])
                if variant.startswith(("cp", "tar -xf", "dd")) and scratch[variant]:
                    (folder / scratch[variant][0]).mkdir()
                self.settle(inputs[variant], cold=variant.endswith("cold cache"))
                result.runs.setdefault(variant, []).append(run())
            print(f"  round {repetition + 1}: " + ", ".join(
                f"{v} {r[-1].wall:.3f} s" for v, r in result.runs.items() if len(r) == repetition + 1), flush=True)
        if case.choose_one and self.may_drop_caches:
            result.pages_read = {
                "tool --list": self.archive_bytes_read(tool_argv + ["--list", "-n"], folder, archives, []),
                "tool, one file": self.archive_bytes_read(tool_argv + ["-n", "-q", middle], folder, archives,
                                                          self.outputs(case)),
            }
            chosen = folder / "sfx"
            result.chosen_file_bytes = sum(f.stat().st_size for f in chosen.iterdir()) if chosen.exists() else 0
        self.note_noise(result)
        if not self.args.keep_inputs:
            shutil.rmtree(folder)
        return result

    def archive_bytes_read(self, argv, folder, archives, outputs):
        """Runs argv from a cold cache and returns how many bytes of the
        archives it brought into the page cache (util-linux's fincore)."""
        self.clear(folder, outputs)
        self.settle(archives, cold=True)
        self.timed(argv, folder)
        resident = subprocess.run(["fincore", "--bytes", "--noheadings", "--output", "RES", *map(str, archives)],
                                  capture_output=True, text=True, check=True).stdout.split()
        return sum(int(value) for value in resident)

    @staticmethod
    def holds_many_files(folder):
        """More than MANY_FILES files at any depth (tar -xf unpacks into a
        folder of its own, so its files are one level further down)."""
        count = 0
        for _, folders, files in os.walk(folder):
            count += len(files) + len(folders)
            if count > MANY_FILES:
                return True
        return False

    def remove_set_aside(self):
        aside = Path(self.args.data) / "set-aside"
        if aside.exists():
            print("removing the outputs set aside between runs", flush=True)
            shutil.rmtree(aside)

    def note_noise(self, result):
        for variant, runs in result.runs.items():
            walls = [run.wall for run in runs]
            if len(walls) > 1 and max(walls) > 1.5 * min(walls) and max(walls) > 0.05:
                self.noisy_notes.append(
                    f"({result.case.key}) {result.case.name}, {variant}: {min(walls):.3f}-{max(walls):.3f} s")


def micro_benchmarks(path):
    """GB/s of the RIFF search and memmem per content, from the JSON of
    quorvel_micro_bench, if run.sh ran it."""
    if not path or not Path(path).exists():
        return {}
    table = {}
    for entry in json.loads(Path(path).read_text())["benchmarks"]:
        if entry.get("run_type") == "aggregate" and entry.get("aggregate_name") != "median":
            continue
        name = entry["name"].split("/")[0].removeprefix("BM_")
        label = entry.get("label", entry["name"])
        if "bytes_per_second" in entry and name not in ("TinyBlocks", "SmallSoundBlocks"):
            if name in ("CarveLargeBlock", "CopyLargeBlock"):
                label = entry["name"].removeprefix("BM_").removesuffix("_median")
            table.setdefault(name, {})[label] = entry["bytes_per_second"] / 1e9
        if "items_per_second" in entry and name in ("TinyBlocks", "SmallSoundBlocks"):
            table.setdefault(name, {})[entry["name"].removeprefix("BM_").removesuffix("_median")] = \
                entry["items_per_second"]
    return table


def verdict(ok):
    return "met" if ok else "**missed**"


def write_report(results, harness, out, micro):
    lines = []
    cache = "cold (page cache dropped before every run)" if harness.cold else \
        "warm (inputs read into the page cache before every run; outputs stay in the page cache)"
    lines += [
        "| input | archive size | files out | tool (s) | cp (s) | tar -xf (s) | tool / references | target | "
        "tool CPU s/GiB | tool peak RSS | cp / tar peak RSS |",
        "|---|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|",
    ]
    checks = []
    for result in results:
        case = result.case
        tool = result.median("tool")
        cp = result.median("cp")
        tar = result.median("tar -xf")
        reference, limit, label = (cp, case.warm_limit, "cp") if case.kind == "large" else \
            (tar, SMALL_ENTRY_LIMIT, "tar")
        ratio = tool / reference
        cpu_per_gib = result.median_cpu("tool") / (result.input_bytes / GIB)
        rss = result.peak_rss("tool")
        ok = ratio <= limit
        checks.append((f"({case.key}) {case.name}: tool / {label}", f"{ratio:.2f} (limit {limit:.2f})", ok))
        checks.append((f"({case.key}) {case.name}: peak RSS", f"{rss / 1024:.1f} MiB (limit 16 MiB)",
                       rss < RSS_LIMIT_KIB))
        lines.append(
            f"| ({case.key}) {case.name} | {result.input_bytes / MIB:,.1f} MiB | {result.output_files:,} | "
            f"{tool:.3f} | {cp:.3f} | {tar:.3f} | {tool / cp:.2f} × cp, {tool / tar:.2f} × tar | ≤ {limit:.2f} × {label}: "
            f"{verdict(ok)} | {cpu_per_gib:.2f} | {rss / 1024:.1f} MiB | "
            f"{result.peak_rss('cp') / 1024:.1f} / {result.peak_rss('tar -xf') / 1024:.1f} MiB |")
        if "tool, cold cache" in result.runs:
            cold = result.median("tool, cold cache") / result.median("cp, cold cache")
            checks.append((f"({case.key}) {case.name}: tool / cp, cold cache",
                           f"{cold:.2f} (limit {LARGE_SOUNDS_COLD_LIMIT:.2f})", cold <= LARGE_SOUNDS_COLD_LIMIT))
            checks.append((f"({case.key}) {case.name}: peak RSS, cold cache",
                           f"{result.peak_rss('tool, cold cache') / 1024:.1f} MiB (limit 16 MiB)",
                           result.peak_rss("tool, cold cache") < RSS_LIMIT_KIB))
        if case.progress:
            plain = tool
            drawn = result.median("tool, bar on a terminal")
            cost = drawn / plain - 1
            checks.append((f"({case.key}) {case.name}: progress bar on a terminal",
                           f"{cost * 100:+.1f} % (limit +2 %)", cost < PROGRESS_LIMIT))
        if case.listing:
            share = result.median("tool --list") / tool
            checks.append((f"({case.key}) {case.name}: --list / extracting", f"{share:.3f} (limit {case.listing:.2f})",
                           share <= case.listing))
        if case.rerun:
            ratio = result.median("tool, rerun") / result.median("tar -xf, rerun")
            checks.append((f"({case.key}) {case.name}: rerun over the earlier outputs / tar -xf's rerun",
                           f"{ratio:.2f} (limit {RERUN_LIMIT:.2f}; {result.median('tool, rerun'):.3f} s against "
                           f"{result.median('tar -xf, rerun'):.3f} s)", ratio <= RERUN_LIMIT))
        if result.pages_read:
            listing, chosen = result.pages_read["tool --list"], result.pages_read["tool, one file"]
            allowed = listing + result.chosen_file_bytes + CHOSEN_READ_SLACK
            checks.append((f"({case.key}) {case.name}: one file of the middle, archive bytes read from a cold cache",
                           f"{chosen / MIB:.1f} MiB; the listing {listing / MIB:.1f} MiB + the file "
                           f"{result.chosen_file_bytes / MIB:.1f} MiB (warm: {result.median('tool, one file'):.3f} s, "
                           f"the listing {result.median('tool --list'):.3f} s, all {tool:.3f} s)", chosen <= allowed))
        if case.export:
            exported = result.median("tool --export flac")
            rss = result.peak_rss("tool --export flac")
            checks.append((f"({case.key}) {case.name}: --export flac, peak RSS",
                           f"{rss / 1024:.1f} MiB (limit {EXPORT_RSS_LIMIT_KIB // 1024} MiB; {exported:.3f} s, "
                           f"{result.median_cpu('tool --export flac'):.3f} s of CPU)", rss <= EXPORT_RSS_LIMIT_KIB))
        if "extract + ffmpeg" in result.runs:
            reference = result.median("extract + ffmpeg")
            ratio = result.median("tool --export flac") / reference
            checks.append((f"({case.key}) {case.name}: --export flac / (extract, then ffmpeg on every sound)",
                           f"{ratio:.3f} (limit {EXPORT_LIMIT:.2f}; {result.median('tool --export flac'):.3f} s "
                           f"against {reference:.3f} s; CPU {result.median_cpu('tool --export flac'):.3f} s against "
                           f"{result.median_cpu('extract + ffmpeg'):.3f} s)", ratio <= EXPORT_LIMIT))
        if case.pack:
            ratio = result.median("tool --pack") / tool
            floor = result.median("tool --pack") / result.median("dd, flushed")
            checks.append((f"({case.key}) {case.name}: --pack / extracting", f"{ratio:.2f} (limit {case.pack:.2f}); "
                           f"{floor:.2f} × a copy flushed to disk (dd conv=fsync)", ratio <= case.pack))

    scaling = [r for r in results if r.case.profile == "sound"]
    scaling.sort(key=lambda r: r.input_bytes)
    lines += ["", "Scaling, one sound per archive (medians):", "",
              "| sound | tool (s) | tool s/GiB | tool CPU s/GiB | cp (s) | cp s/GiB | time ratio to previous | "
              "size ratio | linear (≤ size ratio × 1.10) |",
              "|---:|---:|---:|---:|---:|---:|---:|---:|---|"]
    previous = None
    for result in scaling:
        tool = result.median("tool")
        gib = result.input_bytes / GIB
        row = (f"| {result.input_bytes / MIB:,.0f} MiB | {tool:.3f} | {tool / gib:.2f} | "
               f"{result.median_cpu('tool') / gib:.2f} | {result.median('cp'):.3f} | {result.median('cp') / gib:.2f} |")
        if previous is None:
            row += " – | – | – |"
        else:
            time_ratio = tool / previous.median("tool")
            size_ratio = result.input_bytes / previous.input_bytes
            ok = time_ratio <= size_ratio * LINEAR_SLACK
            checks.append((f"(e) {previous.input_bytes // MIB} → {result.input_bytes // MIB} MiB: time ratio",
                           f"{time_ratio:.2f} for {size_ratio:.1f} × the bytes", ok))
            row += f" {time_ratio:.2f} | {size_ratio:.1f} | {verdict(ok)} |"
        lines.append(row)
        previous = result

    lines += ["", "Targets:", "", "| target | measured | verdict |", "|---|---|---|"]
    lines += [f"| {name} | {measured} | {verdict(ok)} |" for name, measured, ok in checks]

    if micro:
        lines += ["", "Micro-benchmarks (quorvel_micro_bench, in memory, GB/s = 10^9 bytes/s):", "",
                  "| search over 64 KiB | " + " | ".join(micro.get("FindRiff", {}).keys()) + " |",
                  "|---|" + "---:|" * len(micro.get("FindRiff", {}))]
        for name in ("FindRiff", "FindRiffPortable", "GlibcMemmem", "StdHorspool"):
            if name in micro:
                lines.append(f"| {name} | " + " | ".join(f"{v:.2f}" for v in micro[name].values()) + " |")
        for name in ("CarveLargeBlock", "CopyLargeBlock", "TinyBlocks", "SmallSoundBlocks"):
            if name in micro:
                values = ", ".join(f"{k}: {v:,.2f}" + ("" if name in ("CarveLargeBlock", "CopyLargeBlock")
                                                        else " outputs/s") for k, v in micro[name].items())
                lines.append(f"\n{name}: {values}" + (" GB/s" if name in ("CarveLargeBlock", "CopyLargeBlock")
                                                      else ""))

    lines += ["", f"Page cache: {cache}. Each figure is the median of {harness.args.repetitions} runs "
              f"({LARGE_SOUNDS_ROUNDS} or more for (g), whose cold-cache runs drop the cache before each run); "
              "the extractor, cp and tar -xf ran in turn, round after round, on the same inputs. "
              "Outputs were removed and `sync` run before each timed run, outside the timing."]
    if harness.noisy_notes:
        lines += ["", "Noisy (slowest run over 1.5 × the fastest): " + "; ".join(harness.noisy_notes) + "."]
    (out / "results.md").write_text("\n".join(lines) + "\n")
    return "\n".join(lines)


def write_plot(results, out):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is missing (Debian: python3-matplotlib): no plot", file=sys.stderr)
        return
    figure, axes = plt.subplots(figsize=(8, 5.5))
    for variant, marker in (("tool", "o"), ("cp", "s"), ("tar -xf", "^")):
        points = sorted((r.input_bytes / MIB, r.median(variant), r.case.key) for r in results)
        axes.plot([p[0] for p in points], [p[1] for p in points], marker=marker, linestyle="",
                  label="quorvel-extractor" if variant == "tool" else variant)
        if variant == "tool":
            for x, y, key in points:
                axes.annotate(f"({key})", (x, y), textcoords="offset points", xytext=(6, -4), fontsize=8)
    scaling = sorted((r.input_bytes / MIB, r.median("tool")) for r in results if r.case.profile == "sound")
    if scaling:
        axes.plot([p[0] for p in scaling], [p[1] for p in scaling], color="C0", linewidth=0.8)
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("archive size (MiB)")
    axes.set_ylabel("wall time, median (s)")
    axes.set_title("quorvel-extractor against cp and tar -xf of the same bytes")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend()
    figure.tight_layout()
    figure.savefig(out / "time-vs-size.png", dpi=110)


def machine_description(folder):
    model = "unknown processor"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / GIB
    filesystem = subprocess.run(["df", "-T", folder], capture_output=True, text=True).stdout.splitlines()[-1].split()[1]
    return (f"{platform.system()} {platform.release()}, {os.cpu_count()} × {model}, "
            f"{memory:.0f} GiB of memory, {filesystem} file system")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--maker", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--micro-json")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--cold", action="store_true", help="drop the page cache before every run if allowed")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--only", help="comma-separated case letters, e.g. a,c")
    parser.add_argument("--keep-inputs", action="store_true")
    args = parser.parse_args()

    harness = Harness(args)
    if args.cold and not harness.cold:
        print("cannot drop the page cache here: the runs are warm-cache", file=sys.stderr)
    chosen = cases(args.quick)
    if args.only:
        chosen = [c for c in chosen if c.key in args.only.split(",")]
    out = Path(args.results).resolve()
    out.mkdir(parents=True, exist_ok=True)
    args.data = str(Path(args.data).resolve())
    Path(args.data).mkdir(parents=True, exist_ok=True)

    started = time.time()
    results = [harness.measure(case) for case in chosen]
    harness.remove_set_aside()
    report = write_report(results, harness, out, micro_benchmarks(args.micro_json))
    write_plot(results, out)
    raw = {
        "machine": machine_description(args.data),
        "mode": "quick" if args.quick else "full",
        "cache": "cold" if harness.cold else "warm",
        "minutes": round((time.time() - started) / 60, 1),
        "results": [{"case": r.case.__dict__, "input_bytes": r.input_bytes, "output_files": r.output_files,
                     "runs": {v: [run.__dict__ for run in runs] for v, runs in r.runs.items()},
                     "pages_read": r.pages_read} for r in results],
    }
    (out / "results.json").write_text(json.dumps(raw, indent=1) + "\n")
    print(f"\nMachine: {raw['machine']}\n\n{report}")


if __name__ == "__main__":
    main()
