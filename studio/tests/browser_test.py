#!/usr/bin/python3
"""The studio's page in a real browser (headless Chromium from Debian, driven
by Selenium), on the sample game: a row per listed file, the filter, playing,
a label saved into the labels file, a swap through the page's file input (and
one the pack refuses), and a pack whose archive then extracts, with the real
program, to the new sound. Then the sounds the browser cannot read itself
(IMA ADPCM, GSM 6.10) played and drawn from their decoding, a swap fitted
to the sound it replaces (heard before it is made), files dropped together
and matched to sounds by name, and an export to FLAC. Then finding a sound
by ear: a noisy clip cut from a sound of the game is found at its place and
played from there, a recording from Chromium's fake microphone is sent; the
spectrogram, the zoom of both pictures, and similar sounds grouped in the
table. Takes docs/studio.png on the way.

    browser_test.py PROGRAM GENERATOR WORK_FOLDER [SCREENSHOT]

Skipped (exit 77) when Chromium, ChromeDriver or Selenium is missing, unless
CI=true, where that is a failure."""

import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from studio_process import Checks, Studio, listing, make_sample, wait_until  # noqa: E402
from xxh64 import xxh64  # noqa: E402

SKIP = 77


def skip_or_fail(why):
    if os.environ.get("CI") == "true":
        print(f"FAIL: {why} (CI must run the browser test)")
        sys.exit(1)
    print(f"SKIP: {why}")
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.common.action_chains import ActionChains
except ImportError:
    skip_or_fail("python3-selenium is not installed for /usr/bin/python3")
if not shutil.which("chromedriver") or not os.path.exists("/usr/bin/chromium"):
    skip_or_fail("chromium and chromium-driver are not installed")

program, generator, work = sys.argv[1:4]
screenshot = sys.argv[4] if len(sys.argv) > 4 else None
check = Checks()


def stereo_wav(seconds, rate=44100):
    """A 16-bit stereo WAV of two tones: another channel count and rate than
    the sounds it replaces, so that the swap has to convert it."""
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        frames = bytearray()
        for i in range(int(seconds * rate)):
            frames += struct.pack("<hh", int(9000 * ((i // 50) % 2 * 2 - 1)), int(6000 * ((i // 70) % 2 * 2 - 1)))
        w.writeframes(bytes(frames))
    return out.getvalue()


def wav_format(path):
    """(format tag, channels, rate) from a WAV's fmt chunk, whatever its
    encoding (the wave module reads PCM alone)."""
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    at = 12
    while at + 8 <= len(data):
        name, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if name == b"fmt ":
            return struct.unpack_from("<HHI", data, at + 8)
        at += 8 + size + (size & 1)
    return None


def read_or_none(path):
    return open(path, "rb").read() if os.path.exists(path) else None


def tone_wav(seconds, rate=22050, samples_hold=None):
    """A 16-bit mono WAV; `samples_hold` is put into its samples as is."""
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        frames = bytearray()
        for i in range(int(seconds * rate)):
            frames += struct.pack("<h", int(12000 * ((i // 40) % 2 * 2 - 1)))
        if samples_hold:
            frames[100:100 + len(samples_hold)] = samples_hold
        w.writeframes(bytes(frames))
    return out.getvalue()


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
game = make_sample(generator, os.path.join(work, "game"))
records = [json.loads(line) for line in listing(program, game).splitlines()]
by_path = {r["path"]: r for r in records if "path" in r}
listed = [r["path"] for r in records if "path" in r]
sounds = [r["path"] for r in records if r.get("kind") == "sound"]

studio = Studio(program, game)
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required",
             "--window-size=1280,900",
             # A microphone that beeps, granted without asking: Record can be driven.
             "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream"):
    options.add_argument(flag)
driver = webdriver.Chrome(options=options)
js = driver.execute_script
try:
    driver.get(studio.url("/"))
    wait_until(lambda: js("return document.body.dataset.ready === '1'"), "the table")
    check("token" not in driver.current_url, "the token left the address bar: " + driver.current_url)
    check(js("return ['swap-label', 'download'].every(id => "
             "document.getElementById(id).getAttribute('aria-disabled') === 'true')"),
          "with no file selected, Replace and Download are disabled")

    # A row per listed file, each with its data-path: only the rows in view
    # are drawn, so the table is scrolled through.
    seen = set()
    height = js("return document.getElementById('rows').scrollHeight")
    # Whether the rows drawn cover every row in view, after a scroll.
    covered = """
        const r = document.getElementById('rows');
        const drawn = new Set([...document.querySelectorAll('.row:not([hidden])')].map(x => Number(x.dataset.position)));
        const total = Number(document.getElementById('spacer').style.height.replace('px', '')) / 24;
        const last = Math.min(total, Math.ceil((r.scrollTop + r.clientHeight) / 24));
        for (let p = Math.floor(r.scrollTop / 24); p < last; p++) if (!drawn.has(p)) return false;
        return true;"""
    for top in range(0, height + 1, 200):
        js("const r = document.getElementById('rows'); r.scrollTop = arguments[0]; r.dispatchEvent(new Event('scroll'));",
           top)
        wait_until(lambda: js(covered), f"the rows in view at {top}px", timeout=10)
        seen.update(js("return [...document.querySelectorAll('.row:not([hidden])')].map(r => r.dataset.path)"))
    check(seen == set(listed), f"a row per listed file: {len(seen)} rows for {len(listed)} files")
    drawn = js("return document.querySelectorAll('.row').length")
    check(drawn < 80, f"only the rows in view are drawn ({drawn} elements for {len(listed)} files)")
    js("document.getElementById('rows').scrollTop = 0; document.getElementById('rows').dispatchEvent(new Event('scroll'))")

    # The filter.
    box = driver.find_element(By.ID, "filter")
    box.send_keys("speech_001")
    wanted = sorted(p for p in listed if "speech_001" in p)
    shown = wait_until(lambda: (lambda s: s if s == wanted else None)(
        sorted(js("return [...document.querySelectorAll('.row:not([hidden])')].map(r => r.dataset.path)"))),
        "the filtered rows", timeout=10)
    check(shown == wanted, f"the filter shows exactly the {len(wanted)} paths holding speech_001")
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys(Keys.DELETE)
    wait_until(lambda: js("return document.querySelectorAll('.row:not([hidden])').length") > len(wanted), "all rows")

    # Playing: a click on a sound's row plays it from the archive's bytes.
    first = sounds[0]
    row = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}']")
    row.click()
    moved = wait_until(lambda: js("const p = document.getElementById('player'); "
                                  "return p.currentTime > 0 ? p.currentTime : 0"), "the audio to play", timeout=20)
    check(moved > 0, f"the audio element plays {first} (currentTime {moved:.3f})")
    check(js("return document.getElementById('player').src").split("?")[0].endswith("/api/file/" + first),
          "the player reads the file from the archive's own bytes")
    # The arrow key moves the selection, and autoplay plays the next sound.
    driver.find_element(By.ID, "table").send_keys(Keys.ARROW_DOWN)
    second = listed[listed.index(first) + 1]
    wait_until(lambda: js("return document.querySelector('.row.selected').dataset.path") == second, "the selection")
    check(True, "the down arrow selects the next row")

    # A label, edited in place, saved at once into quorvel-labels.tsv; shown as text.
    label = "door creak <img src=x onerror=alert(1)>"
    row = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}']")
    ActionChains(driver).double_click(row.find_element(By.CSS_SELECTOR, ".label")).perform()
    editor = wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, f".row[data-path='{first}'] .label input"),
                        "the label editor")[0]
    editor.send_keys(label + Keys.ENTER)
    labels_file = os.path.join(game, "quorvel-labels.tsv")
    try:
        wait_until(lambda: os.path.exists(labels_file) and label in open(labels_file, encoding="utf-8").read(),
                   "the labels file", timeout=10)
    except AssertionError:
        print(js("return document.getElementById('notice').textContent"), js("return document.activeElement.outerHTML"))
        raise
    with open(os.path.join(game, "sfx.pak"), "rb") as archive:
        record = next(r for r in records if r.get("path") == first)
        archive.seek(record["offset"])
        original = archive.read(record["size"])
    line = f"{first}\t{xxh64(original):016x}\t{label}"
    check(line in open(labels_file, encoding="utf-8").read().splitlines(),
          "the labels file holds PATH<TAB>XXH64<TAB>LABEL for it")
    cell = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}'] .label")
    check(cell.text == label and not driver.find_elements(By.CSS_SELECTOR, ".row img"),
          "the label shows its characters, not markup")
    # The filter finds labels too.
    box.send_keys("door creak")
    wait_until(lambda: js("return [...document.querySelectorAll('.row:not([hidden])')].map(r => r.dataset.path)")
               == [first], "the label filter")
    check(True, "the filter finds a file by its label")
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys(Keys.DELETE)

    # A few more labels, for the screenshot.
    for path, text in zip(sounds[1:6], ["footsteps on gravel", "chest opens", "sword draw", "rain loop",
                                        "guard: who goes there?"]):
        studio.post_json("/api/labels", {"path": path, "label": text})
    driver.get(studio.url("/"))
    wait_until(lambda: js("return document.body.dataset.ready === '1'"), "the table again")
    driver.find_element(By.CSS_SELECTOR, f".row[data-path='{sounds[2]}']").click()
    wait_until(lambda: js("return document.getElementById('player').currentTime > 0"), "the audio again", 20)
    if screenshot:
        wait_until(lambda: js("return document.getElementById('detail-path').textContent") == sounds[2], "detail")
        # Some way into the sound, so that the picture shows the play position.
        wait_until(lambda: js("return document.getElementById('player').currentTime > 0.25"), "the play position", 20)
        driver.save_screenshot(screenshot)
        check(os.path.getsize(screenshot) > 10000, f"screenshot {screenshot}")

    # A swap the pack refuses: samples holding RIFF and WAVE would cut the sound.
    driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}']").click()
    wait_until(lambda: js("return document.getElementById('detail-path').textContent") == first, "the detail")
    js("document.getElementById('swap-file').style.display = 'block'")
    bad = os.path.join(work, "bad.wav")
    with open(bad, "wb") as out:
        out.write(tone_wav(0.5, samples_hold=b"RIFF\x10\x00\x00\x00WAVEdata"))
    extracted = os.path.join(game, first)

    def swap_as_is(path, open_panel=None):
        """A WAV chosen for the selected sound (or dropped, by `open_panel`),
        swapped byte for byte."""
        if open_panel:
            open_panel()
        else:
            driver.find_element(By.ID, "swap-file").send_keys(path)
        wait_until(lambda: js("return document.getElementById('swap-dialog').open"), "the swap panel")
        driver.find_element(By.ID, "swap-as-is").click()
        wait_until(lambda: js("const d = document.getElementById('swap-dialog'); "
                              "return d.dataset.state === 'as-is' && !document.getElementById('swap-now').disabled"),
                   "the swap as it is", 60)
        driver.find_element(By.ID, "swap-now").click()

    swap_as_is(bad)
    refusal = wait_until(lambda: js("const n = document.getElementById('notice'); "
                                    "return n.classList.contains('error') ? n.textContent : ''"), "the refusal", 60)
    check("RIFF" in refusal and "keeps the archive's own sound" in refusal and "choose another file" in refusal,
          f"a refused swap shows the pack's reason, the way out and which sound stays: {refusal}")
    check(open(extracted, "rb").read() == original, "after the refusal the file is the archive's own")
    panel = js("return document.getElementById('swap-dialog').open ? "
               "document.getElementById('swap-status').textContent : ''")
    check("keeps the archive's own sound" in panel, "the swap panel stays open with the refusal: " + panel)
    driver.find_element(By.ID, "swap-cancel").click()

    # A swap through the page's file input.
    new_sound = tone_wav(1.25)
    good = os.path.join(work, "door.wav")
    with open(good, "wb") as out:
        out.write(new_sound)
    swap_as_is(good)
    wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, f".row[data-path='{first}'] .badge"), "changed", 60)
    check(open(extracted, "rb").read() == new_sound, "the swap made the WAV the output folder's file")
    badge = js(f"const b = document.querySelector(\".row[data-path='{first}'] .badge\"); "
               "return b.scrollWidth <= b.clientWidth + 1 ? b.textContent : ''")
    check(badge == "changed", f"the row's badge reads whole: {badge!r}")

    # A second take of the same sound: Play new plays it, not the first one
    # the browser has already heard; the row shows what the folder holds.
    new_sound = tone_wav(0.75)
    second = os.path.join(work, "door-take-2.wav")
    with open(second, "wb") as out:
        out.write(new_sound)
    swap_as_is(second)
    wait_until(lambda: open(extracted, "rb").read() == new_sound, "the second take", 60)
    wait_until(lambda: "door-take-2.wav" in js("return document.getElementById('notice').textContent"), "its notice")
    check(not os.path.exists(os.path.join(game, "sfx", ".quorvel-replacing")),
          "no hidden folder is left in sfx once the swap has ended")
    driver.find_element(By.ID, "play-new").click()
    heard = wait_until(lambda: js("const p = document.getElementById('player'); "
                                  "return p.dataset.from === 'output' && p.duration > 0 ? p.duration : 0"),
                       "the new take to load", 20)
    check(abs(heard - 0.75) < 0.02, f"Play new plays the second take (0.75 s), not the first (heard {heard:.3f} s)")
    row_seconds = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}'] .seconds").text
    check(row_seconds == "0.75 s", f"the changed row shows the folder's sound: {row_seconds}")

    # Pack: the dry run's report, then the pack itself.
    driver.find_element(By.ID, "pack").click()
    report = wait_until(lambda: js("const d = document.getElementById('pack-dialog'); "
                                   "return d.open ? document.getElementById('pack-report').textContent : ''"),
                        "the dry run's report", 60)
    check(first in report and "would change" in report, "the dry run names the changed block's file")
    driver.find_element(By.ID, "pack-now").click()
    wait_until(lambda: js("return document.getElementById('pack-report').dataset.done === '1'"), "the pack", 60)
    report = driver.find_element(By.ID, "pack-report").text
    check("packed" in report, "the pack reports its result: " + report.splitlines()[0])
    size_cell = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{first}'] .size").text
    check(size_cell.replace(",", "") == str(len(new_sound)), "the table shows the new archive")

    fresh = os.path.join(work, "fresh")
    os.makedirs(fresh)
    for name in ("sfx.pak", "speech.pak"):
        shutil.copy(os.path.join(game, name), fresh)
    subprocess.run([program, "-y", "-q", "-C", fresh], check=True)
    check(open(os.path.join(fresh, first), "rb").read() == new_sound,
          "the packed archive extracts, with the real program, to the new sound")

    driver.find_element(By.ID, "pack-close").click()

    def show_row(path):
        """The row of `path`, brought into view by the filter."""
        box = driver.find_element(By.ID, "filter")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(path)
        wait_until(lambda: js("return [...document.querySelectorAll('.row:not([hidden])')].map(r => r.dataset.path)")
                   == [path], f"the row of {path} alone", 10)
        return driver.find_element(By.CSS_SELECTOR, f".row[data-path='{path}']")

    def clear_filter():
        box = driver.find_element(By.ID, "filter")
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.DELETE)
        wait_until(lambda: js("return document.querySelectorAll('.row:not([hidden])').length") > 3, "all rows")

    def section(name, steps):
        """One feature's checks; a timeout fails that feature alone."""
        try:
            steps()
        except Exception as error:  # a timeout, or an element that is not there: this feature fails
            shown = js("return document.getElementById('notice').textContent")
            check(False, f"{name}: {error} (the notice: {shown!r})")
            js("for (const d of document.querySelectorAll('dialog[open]')) d.close()")

    def drop(files, on):
        """Drops files on an element as a person's drag does: the browser's
        DataTransfer holds the files a file input was given."""
        js("""const input = document.createElement('input');
              input.type = 'file'; input.multiple = true; input.id = 'test-drop'; document.body.appendChild(input);""")
        driver.find_element(By.ID, "test-drop").send_keys("\n".join(files))
        js("""const input = document.getElementById('test-drop');
              const carried = new DataTransfer();
              for (const f of input.files) carried.items.add(f);
              input.remove();
              arguments[0].dispatchEvent(new DragEvent('drop', {dataTransfer: carried, bubbles: true, cancelable: true}));""",
           on)

    encoded = {e: next((r for r in records if r.get("kind") == "sound" and r.get("encoding") == e
                        and r.get("channels") == 1), None) for e in ("ima_adpcm", "gsm610")}
    check(all(encoded.values()), "the sample game holds a mono IMA ADPCM and a mono GSM 6.10 sound: " +
          ", ".join(f"{e}: {r and r['path']}" for e, r in encoded.items()))
    ima, gsm = (encoded[e]["path"] for e in ("ima_adpcm", "gsm610"))

    def decoded_sounds_play():
        for path, name in ((ima, "IMA ADPCM"), (gsm, "GSM 6.10")):
            row = show_row(path)
            cell = row.find_element(By.CSS_SELECTOR, ".format").text
            check(name in cell, f"the format column names the encoding of {path}: {cell!r}")
            row.click()
            moved = wait_until(lambda: js("const p = document.getElementById('player'); "
                                          "return p.dataset.path === arguments[0] && p.currentTime > 0", path),
                               f"{name} to play", 20)
            src = js("return document.getElementById('player').src")
            check(moved and "/api/decoded/" + path in src, f"{name} plays from its decoding: {src.split('?')[0]}")
            wait_until(lambda: js("return document.getElementById('wave').dataset.state") in ("drawn", "undecodable",
                                                                                             "none"),
                       f"the waveform of {path}", 20)
            # The waveform's bars, in its colour, on the canvas.
            bars = js("""const c = document.getElementById('wave'); const g = c.getContext('2d');
                         const d = g.getImageData(0, 0, c.width, c.height).data; let n = 0;
                         for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 0 && d[i + 2] > 200 && d[i] < 160) n++;
                         return n;""")
            check(js("return document.getElementById('wave').dataset.state") == "drawn" and bars > 500,
                  f"the waveform of the {name} sound is drawn ({bars} pixels of bars)")
        clear_filter()

    def fitted_swap():
        record = by_path[ima]
        show_row(ima).click()
        wait_until(lambda: js("return document.getElementById('detail-path').textContent") == ima, "the detail")
        js("document.getElementById('swap-file').style.display = 'block'")
        new_file = os.path.join(work, "new-door.wav")
        with open(new_file, "wb") as out:
            out.write(stereo_wav(0.8))
        before = read_or_none(os.path.join(game, ima))
        driver.find_element(By.ID, "swap-file").send_keys(new_file)
        wait_until(lambda: js("return document.getElementById('swap-dialog').dataset.state") in ("previewed", "refused"),
                   "the dry run's report", 60)
        report = js("return document.getElementById('swap-report').textContent")
        status = js("return document.getElementById('swap-status').textContent")
        check("->" in report and "IMA ADPCM" in report, f"the dry run reports the conversion: {report!r} {status!r}")
        check(read_or_none(os.path.join(game, ima)) == before and not driver.find_elements(
              By.CSS_SELECTOR, f".row[data-path='{ima}'] .badge"),
              "the dry run changes nothing: the output folder's file is as it was, the row not marked changed")
        driver.find_element(By.ID, "swap-hear-converted").click()
        wait_until(lambda: js("return document.getElementById('swap-converted').currentTime > 0.15"), "Converted", 20)
        check(True, "Converted plays the converted sound")
        # Switching keeps the position: read in the same task as the click.
        left, taken, length = js("""const c = document.getElementById('swap-converted');
                                    const o = document.getElementById('swap-original');
                                    const at = c.currentTime;
                                    document.getElementById('swap-hear-original').click();
                                    return [at, o.currentTime, o.duration];""")
        check(abs(taken - min(left, length)) < 0.02 and js("return document.getElementById('swap-converted').paused"),
              f"Original goes on from where Converted was ({left:.3f} s -> {taken:.3f} s)")
        wait_until(lambda: js("const o = document.getElementById('swap-original'); return !o.paused && "
                              "o.currentTime > arguments[0]", taken), "Original to play on", 20)
        # Two options changed at once: each redoes the dry run, one after the
        # other (the studio runs one at a time), and the last one's report
        # stands: fitted to the 0.51 s of the sound it replaces.
        js("document.getElementById('swap-keep-loudness').click(); document.getElementById('swap-fit-length').click();")
        refit = wait_until(lambda: js("const d = document.getElementById('swap-dialog'); return d.dataset.state && "
                                      "document.getElementById('swap-report').textContent !== arguments[0] ? "
                                      "[d.dataset.state, document.getElementById('swap-report').textContent, "
                                      "document.getElementById('swap-status').textContent] : null", report),
                           "the dry run again", 60)
        target = refit[1].split("->")[-1]
        check(refit[0] == "previewed" and f"{record['seconds']:.2f} s" in target,
              f"the options redo the dry run, fitted to {record['seconds']:.2f} s: {refit}")
        driver.find_element(By.ID, "swap-now").click()
        wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, f".row[data-path='{ima}'] .badge"), "changed", 60)
        check(not js("return document.getElementById('swap-dialog').open"), "the panel closes after the swap")
        fmt = wav_format(os.path.join(game, ima))
        check(fmt is not None and fmt[1:] == (record["channels"], record["rate"]),
              f"the output folder's file has the archived sound's {record['channels']} ch, {record['rate']} Hz: {fmt}")
        # The folder's new sound is IMA ADPCM too: Play new decodes it.
        driver.find_element(By.ID, "play-new").click()
        wait_until(lambda: js("const p = document.getElementById('player'); "
                              "return p.dataset.from === 'output' && p.currentTime > 0"), "Play new", 20)
        src = js("return document.getElementById('player').src")
        check("/api/decoded/" + ima in src and "from=output" in src, f"Play new plays the folder's decoded sound: {src}")
        clear_filter()

    def undecodable_sound():
        """A WAV of a format tag nothing decodes, swapped in as it is: the
        page says why it cannot play it instead of sitting at 0:00."""
        path = next(r["path"] for r in records if r.get("encoding") == "pcm_s16" and r["path"].startswith("sfx/")
                    and r["path"] != first)
        show_row(path).click()
        wait_until(lambda: js("return document.getElementById('detail-path').textContent") == path, "the detail")
        samples = bytes(range(256)) * 40
        fmt = struct.pack("<HHIIHH", 0x0050, 1, 22050, 4000, 1, 0)
        odd = os.path.join(work, "odd.wav")
        with open(odd, "wb") as out:
            out.write(b"RIFF" + struct.pack("<I", 20 + len(fmt) + len(samples)) + b"WAVEfmt " + struct.pack("<I", len(fmt))
                      + fmt + b"data" + struct.pack("<I", len(samples)) + samples)
        # Dropped on its row: the row's sound is the one replaced.
        swap_as_is(odd, lambda: drop([odd], driver.find_element(By.CSS_SELECTOR, f".row[data-path='{path}'] .size")))
        check(js("return document.getElementById('swap-title').textContent") == f"Replace {path} with odd.wav",
              "a file dropped on a row replaces that row's sound")
        wait_until(lambda: driver.find_elements(By.CSS_SELECTOR, f".row[data-path='{path}'] .badge"), "changed", 60)
        cell = driver.find_element(By.CSS_SELECTOR, f".row[data-path='{path}'] .format").text
        check("0x0050" in cell, f"the format column shows an unknown encoding's tag: {cell!r}")
        driver.find_element(By.ID, "play-new").click()
        said = wait_until(lambda: js("const b = document.getElementById('cannot-play'); return b.hidden ? '' : b.textContent"),
                          "the reason", 20)
        check(said.startswith("This sound cannot be played here: ") and "0x0050" in said,
              f"the page says why the sound cannot be played: {said!r}")
        check(js("return document.getElementById('wave').dataset.state") == "undecodable",
              "the waveform says the sound does not decode")
        clear_filter()

    def batch_swap():
        speech = [p for p in sounds if p.startswith("speech/")]
        by_stem = speech[2]
        numbered = speech[6]
        stem = os.path.splitext(os.path.basename(numbered))[0]
        archive, number = stem.rsplit("_", 1)
        folder = os.path.join(work, "batch")
        os.makedirs(folder, exist_ok=True)
        files = {os.path.splitext(os.path.basename(by_stem))[0].upper() + ".wav": by_stem,
                 f"{archive}-{int(number)}.wav": numbered, "no-such-sound.wav": None}
        for name in files:
            with open(os.path.join(folder, name), "wb") as out:
                out.write(stereo_wav(0.5, rate=32000))
        drop([os.path.join(folder, name) for name in files], driver.find_element(By.ID, "rows"))
        wait_until(lambda: js("return document.getElementById('batch-dialog').open"), "the match table")
        table = js("return [...document.querySelectorAll('#batch-rows tr')].map(r => [...r.cells].map(c => c.textContent))")
        shown = {row[0]: row[1] for row in table}
        check(shown == {name: path or "no match" for name, path in files.items()},
              f"each dropped file is matched to its sound by name or number, the third to none: {shown}")
        driver.find_element(By.ID, "batch-swap").click()
        wait_until(lambda: js("return document.getElementById('batch-dialog').dataset.done === '1'"), "Swap all", 120)
        results = js("return [...document.querySelectorAll('#batch-rows td.result')].map(c => c.textContent)")
        check(all("->" in r for r in results[:2]), f"each swap's report on its line: {results}")
        driver.find_element(By.ID, "batch-cancel").click()
        for path in (by_stem, numbered):
            show_row(path)
            check(driver.find_elements(By.CSS_SELECTOR, f".row[data-path='{path}'] .badge"), f"{path} is changed")
        clear_filter()

    def export_flac():
        for path in (gsm, sounds[1]):
            show_row(path).find_element(By.CSS_SELECTOR, ".choose input").click()
        clear_filter()
        wait_until(lambda: "(2)" in js("return document.getElementById('extract-chosen').textContent"), "two chosen")
        driver.find_element(By.ID, "export").click()
        wait_until(lambda: js("return document.getElementById('export-dialog').open"), "the export dialog")
        check(js("return document.getElementById('export-format').value") == "flac"
              and js("return document.getElementById('export-chosen').checked"),
              "Export offers FLAC first, for the chosen files")
        driver.find_element(By.ID, "export-now").click()
        wait_until(lambda: js("return document.getElementById('export-result').dataset.done === '1'"), "the export", 120)
        summary = js("return document.getElementById('export-summary').textContent")
        check(js("return document.getElementById('export-result').dataset.exported") == "2",
              f"the export answers 2 sounds exported: {summary!r}")
        folder = os.path.join(game, "export")
        made = [os.path.join(d, f) for d, _, names in os.walk(folder) for f in names if f.endswith(".flac")]
        check(len(made) == 2 and all(open(f, "rb").read(4) == b"fLaC" for f in made),
              f"two FLAC files under {folder}: {made}")
        driver.find_element(By.ID, "export-close").click()
        # The details' FLAC link downloads the sound as FLAC.
        show_row(gsm).click()
        href = wait_until(lambda: js("const a = document.getElementById('export-flac'); "
                                     "return a.getAttribute('aria-disabled') === 'false' ? a.href : ''"), "the link")
        status, headers, body = studio.request("GET", href.split(studio.origin, 1)[1], token=False)
        check(status == 200 and body[:4] == b"fLaC" and "attachment" in headers.get("Content-Disposition", ""),
              f"the details' FLAC link downloads a FLAC ({status}, {headers.get('Content-Disposition')})")
        clear_filter()

    if all(encoded.values()):
        section("IMA ADPCM and GSM 6.10 play", decoded_sounds_play)
        section("a fitted swap", fitted_swap)
    section("a sound that does not decode", undecodable_sound)
    section("swaps by name", batch_swap)
    if all(encoded.values()):
        section("export", export_flac)

    def noisy_cut(path, seconds, folder):
        """`seconds` from the middle of a 16-bit sound of the game, with
        noise about 30 dB below full scale; (the clip's file, its start)."""
        status, _, data = studio.request("GET", "/api/file/" + path)
        check(status == 200, f"the archive's bytes of {path}")
        with wave.open(io.BytesIO(data)) as source:
            rate, channels = source.getframerate(), source.getnchannels()
            frames = source.readframes(source.getnframes())
        total = len(frames) // (2 * channels)
        first_frame = (total - int(seconds * rate)) // 2
        cut = frames[first_frame * 2 * channels:(first_frame + int(seconds * rate)) * 2 * channels]
        noise = random.Random(7)
        samples = [max(-32768, min(32767, v + noise.randint(-1000, 1000)))
                   for (v,) in struct.iter_unpack("<h", cut)]
        clip = os.path.join(folder, "heard-somewhere.wav")
        with wave.open(clip, "wb") as out:
            out.setnchannels(channels)
            out.setsampwidth(2)
            out.setframerate(rate)
            out.writeframes(struct.pack(f"<{len(samples)}h", *samples))
        return clip, first_frame / rate

    changed = set(studio.get_json("/api/status")["changed"])
    longest = max((r for r in records if r.get("encoding") == "pcm_s16" and r["path"] not in changed),
                  key=lambda r: r["seconds"])["path"]
    check(by_path[longest]["seconds"] >= 2.0, f"the longest 16-bit sound is long enough to cut from: {longest}")

    def found_list(list_id):
        """The lines of a result list once answered: [(path, offset, text)]."""
        wait_until(lambda: js("return document.getElementById(arguments[0]).dataset.done === '1'", list_id),
                   f"the answer in #{list_id}", 180)
        return js("return [...document.getElementById(arguments[0]).children].map(li => "
                  "[li.dataset.path || '', li.dataset.offset === undefined ? null : Number(li.dataset.offset), "
                  "li.textContent])", list_id)

    def find_by_ear():
        driver.find_element(By.ID, "find-open").click()
        # The studio indexed the sounds from its start (and the packed ones
        # after the pack): the search has nothing left to index.
        wait_until(lambda: js("return document.getElementById('find-index').dataset.state") == "ready",
                   "the sounds indexed ahead", 120)
        clip, start = noisy_cut(longest, 1.5, work)
        drop([clip], driver.find_element(By.ID, "find-drop"))
        found = found_list("find-results")
        status = js("return document.getElementById('find-status').textContent")
        check("indexed now" not in status and "found among" in status,
              f"the search used the index made ahead: {status!r}")
        check(found and found[0][0] == longest and abs(found[0][1] - start) <= 0.05,
              f"the clip cut at {start:.3f} s of {longest} is found there first: {found[:3]}")
        check(not js("return document.getElementById('swap-dialog').open || "
                     "document.getElementById('batch-dialog').open"), "a clip dropped to be found swaps nothing")
        driver.find_element(By.CSS_SELECTOR, "#find-results li").click()
        wait_until(lambda: js("const r = document.querySelector('.row.selected'); return r && r.dataset.path") == longest,
                   "the found sound's row")
        at = wait_until(lambda: js("const p = document.getElementById('player'); return p.dataset.path === arguments[0]"
                                   " && p.currentTime >= arguments[1] ? p.currentTime : 0", longest, found[0][1]),
                        "the player at the found position", 20)
        check(at >= found[0][1], f"a click on the result selects {longest} and plays it from {found[0][1]:.3f} s ({at:.3f})")

    def pictures_and_zoom():
        """The spectrogram of the selected sound, drawn; + asks both pictures
        again with twice the detail and shows half the sound."""
        if js("return document.getElementById('detail-path').textContent") != longest:
            show_row(longest).click()
            clear_filter()
        wait_until(lambda: js("return document.getElementById('detail-path').textContent") == longest, "the detail")
        wait_until(lambda: js("return ['wave', 'spectrogram'].every(id => "
                              "document.getElementById(id).dataset.state === 'drawn')"), "both pictures", 30)
        lit = js("""const c = document.getElementById('spectrogram'); const g = c.getContext('2d');
                    const d = g.getImageData(0, 0, c.width, c.height).data; let n = 0;
                    for (let i = 0; i < d.length; i += 4) if (d[i + 3] > 0 && d[i] + d[i + 1] + d[i + 2] > 200) n++;
                    return [n, c.width * c.height];""")
        check(lit[0] > lit[1] // 50, f"the spectrogram of {longest} is drawn ({lit[0]} of {lit[1]} pixels lit)")
        js("document.getElementById('player').pause()")
        n, w = (int(js(f"return document.getElementById('{i}').dataset.{k}")) for i, k in (("wave", "n"),
                                                                                               ("spectrogram", "w")))
        driver.find_element(By.ID, "zoom-in").click()
        state = wait_until(lambda: js("""const wave = document.getElementById('wave');
            const spectrogram = document.getElementById('spectrogram');
            return document.getElementById('detail').dataset.zoom === '2' && wave.dataset.state === 'drawn' &&
              spectrogram.dataset.state === 'drawn' ? [Number(wave.dataset.n), Number(spectrogram.dataset.w)] : null;"""),
            "the zoomed pictures", 30)
        check(state == [min(8192, 2 * n), min(4096, 2 * w)],
              f"zoom 2 asks the peaks with n {n} -> {state[0]} and the spectrogram with w {w} -> {state[1]}")
        # A click in the middle of the zoomed picture seeks within the half shown.
        js("const p = document.getElementById('player'); p.currentTime = 0;")
        wait_until(lambda: js("return document.getElementById('player').currentTime === 0"), "the start")
        ActionChains(driver).move_to_element(driver.find_element(By.ID, "spectrogram")).click().perform()
        seconds = by_path[longest]["seconds"]
        at = wait_until(lambda: js("return document.getElementById('player').currentTime"), "the seek", 10)
        check(abs(at - seconds / 4) < 0.1, f"at zoom 2 a click in the middle plays from a quarter ({at:.3f} s "
              f"of {seconds:.2f} s)")
        driver.find_element(By.ID, "zoom-out").click()

    def similar_sounds():
        """A sound the studio finds others similar to (the first in the
        listing; the longest sound, answered "none", where there is none):
        the page lists the studio's answer, then groups it in the table."""
        def asked(path):
            return [m["path"] for m in studio.get_json(f"/api/similar/{path}?max=10")["similar"]]
        chosen = next((p for p in sounds if asked(p)), longest)
        expected = asked(chosen)
        show_row(chosen).click()
        clear_filter()
        wait_until(lambda: js("return document.getElementById('detail-path').textContent") == chosen, "the detail")
        driver.find_element(By.ID, "similar").click()
        similar = found_list("similar-results")
        paths = [p for p, _, _ in similar if p]
        check(paths == expected and (paths or similar[0][2] == "none"),
              f"Similar sounds lists what the studio answers for {chosen}, best first, or 'none': {similar}")
        driver.find_element(By.ID, "variations").click()
        rows = wait_until(lambda: (lambda r: r if r and r[0] == chosen else None)(
            js("return [...document.querySelectorAll('.row:not([hidden])')].map(r => r.dataset.path)")), "the group")
        check(rows == [chosen, *paths] and chosen in js("return document.getElementById('similar-to').textContent"),
              f"variations together shows {chosen} with its similar sounds under it: {rows}")
        if paths:
            driver.find_element(By.CSS_SELECTOR, "#similar-results li").click()
            wait_until(lambda: js("const p = document.getElementById('player'); "
                                  "return p.dataset.path === arguments[0] && p.currentTime > 0", paths[0]),
                       "the similar sound to play", 20)
            check(js("return document.querySelector('.row.selected').dataset.path") == paths[0],
                  f"a click on a similar sound selects and plays it: {paths[0]}")
        driver.find_element(By.ID, "similar-clear").click()
        wait_until(lambda: js("return document.querySelectorAll('.row:not([hidden])').length") > len(rows) + 3,
                   "every row again")
        driver.find_element(By.ID, "variations").click()

    def record_and_find():
        driver.find_element(By.ID, "find-record").click()
        started = wait_until(lambda: js("const b = document.getElementById('find-record'); "
                                        "const s = document.getElementById('find-status'); "
                                        "return Number(b.dataset.seconds) >= 1.5 ? 'recording' : "
                                        "s.classList.contains('error') ? s.textContent : ''"), "the recording", 20)
        if started != "recording":
            print(f"SKIP: recording from the fake microphone: {started}")
            return
        driver.find_element(By.ID, "find-record").click()
        answer = found_list("find-results")
        status = js("return document.getElementById('find-status').textContent")
        check(status.startswith("recording.wav: ") and "error" not in js(
              "return document.getElementById('find-status').className") and answer and
              (answer[0][0] or answer[0][2] == "nothing in the game holds this clip"),
              f"Record then Stop sends the recording as a WAV and shows the answer: {status!r} {answer[:2]}")

    section("find by ear", find_by_ear)
    section("the spectrogram and the zoom", pictures_and_zoom)
    section("similar sounds", similar_sounds)
    section("recording a clip", record_and_find)

    driver.find_element(By.ID, "quit").click()
    status = studio.process.wait(timeout=30)
    check(status == 0, f"Quit on the page ends the studio with exit status 0 (got {status})")
    wait_until(lambda: js("return document.body.dataset.ended === '1'"), "the page to know")
    enabled = js("return [...document.querySelectorAll('button, input, select')].filter(c => !c.disabled)"
                 ".map(c => c.id)")
    check(not enabled and "has ended" in js("return document.getElementById('notice').textContent"),
          f"after Quit every control is disabled and the page says the studio has ended (enabled: {enabled})")
finally:
    driver.quit()
    if studio.process.poll() is None:
        studio.quit()

check.finish("browser test")
