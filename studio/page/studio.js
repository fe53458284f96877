// The studio's page: the table of every file of the archives, the player
// with its waveform and spectrogram, labels, swaps, the pack and extraction,
// and finding a sound by ear (a clip, or similar sounds). Everything that
// comes from the archives, the labels or the user is put on the page as
// text (textContent), never as markup.
"use strict";

(() => {
  const ROW_HEIGHT = 24;
  const OVERSCAN = 8;

  // The token arrives in the address once; it then leaves the address bar
  // (and so the history and any shared screenshot) and rides on each request.
  const token = new URLSearchParams(location.search).get("token") || "";
  history.replaceState(null, "", "/");

  const $ = (id) => document.getElementById(id);
  const withToken = (url) => url + (url.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token);
  const encodedPath = (path) => path.split("/").map(encodeURIComponent).join("/");
  // A new take of a swapped sound gets an address of its own, so that the
  // browser never plays one it kept from before.
  const takeQuery = (path, from) => (from === "output" ? "?from=output&take=" + (state.takes.get(path) || 0) : "");
  const fileUrl = (path, from) =>
    withToken((from === "output" ? "/api/output/" : "/api/file/") + encodedPath(path) +
      (from === "output" ? "?take=" + (state.takes.get(path) || 0) : ""));
  // The studio's decoding of a sound, as a WAV any browser plays.
  const decodedUrl = (path, from) => withToken("/api/decoded/" + encodedPath(path) + takeQuery(path, from));

  const state = {
    files: [],           // {path, kind, size, channels, rate, bits, seconds, index}
    byPath: new Map(),
    labels: new Map(),
    changed: new Set(),
    changedFiles: new Map(), // path -> what the output folder holds in its place, as a listing record
    takes: new Map(),        // path -> how many times it was swapped here
    ended: false,
    hashes: null,        // Map path -> hash, once asked for
    shown: [],           // indices into files, filtered and sorted
    selected: -1,        // position in shown
    chosen: new Set(),   // paths to extract
    sort: { key: null, up: true },
    peaks: null,
    spectrogram: null,   // {columns, rows, seconds, image: a canvas of columns x rows}
    zoom: 1,             // 1, 2, 4 ... 64: the part of the sound the pictures show
    similar: null,       // {path, paths}: the last "Similar sounds" answer
    pendingSeek: null,   // {path, offset}: where the player goes once it can
    pool: [],
    editing: null,
  };

  async function api(path, options = {}) {
    const response = await fetch(withToken(path), options);
    const type = response.headers.get("Content-Type") || "";
    const isJson = type.split(";")[0].trim() === "application/json";
    const body = isJson ? await response.json() : await response.text();
    if (!response.ok) {
      const message = typeof body === "object" && body && body.error ? body.error : String(body).trim();
      throw new Error(message || "HTTP " + response.status);
    }
    return body;
  }

  function notice(text, error = false) {
    const box = $("notice");
    box.textContent = text;
    box.classList.toggle("error", error);
    box.hidden = !text;
  }

  // ---- the listing ----

  // The listing's encoding names, as people call them; an unknown format
  // tag ("0x0050") is shown as it is.
  const ENCODING_NAMES = {
    pcm_u8: "PCM 8-bit", pcm_s16: "PCM 16-bit", pcm_s24: "PCM 24-bit", pcm_s32: "PCM 32-bit",
    float32: "float 32-bit", float64: "float 64-bit", ima_adpcm: "IMA ADPCM", ms_adpcm: "MS ADPCM",
    gsm610: "GSM 6.10", ulaw: "µ-law", alaw: "A-law", g721: "G.721 ADPCM",
  };
  // What the browser's own WAV reader takes as stored; everything else is
  // played from the studio's decoded WAV.
  const PLAYS_AS_STORED = new Set(["pcm_u8", "pcm_s16", "pcm_s24", "float32"]);

  function encodingName(record) {
    if (typeof record.encoding === "string") return ENCODING_NAMES[record.encoding] || record.encoding;
    return record.bits == null ? "" : `${record.bits} bit`;
  }

  function formatOf(file) {
    if (file.channels == null) return file.kind === "sound" ? "-" : "";
    return [`${file.channels} ch`, `${file.rate} Hz`, encodingName(file)].filter(Boolean).join(", ");
  }

  // What a row shows: the output folder's file where it was changed.
  const shownOf = (file) => state.changedFiles.get(file.path) || file;

  function sizeText(bytes) {
    return bytes.toLocaleString("en-US");
  }

  async function loadEntries() {
    const text = await api("/api/entries");
    const files = [];
    for (const line of text.split("\n")) {
      if (!line) continue;
      const record = JSON.parse(line);
      if (record.path === undefined) continue;  // an archive's summary
      record.index = files.length;
      files.push(record);
    }
    state.files = files;
    state.byPath = new Map(files.map((file) => [file.path, file]));
    state.hashes = null;
  }

  async function loadStatus() {
    const status = await api("/api/status");
    state.changed = new Set(status.changed);
    state.changedFiles = new Map(Object.entries(status.changed_files || {}));
    state.outputFolder = status.output_folder_shown || status.output_folder;
    if (!status.speech) {
      notice("There is no speech.pak: the sound effects alone are listed.");
    }
    if (status.warning) {
      notice(status.warning, true);
    } else if (status.shared_labels) {
      const m = status.shared_labels;
      notice(`Shared labels: ${m.by_hash} lines matched by hash, ${m.by_path} by path only, ${m.unmatched} not at all.`);
    }
    return status;
  }

  async function loadLabels() {
    const labels = await api("/api/labels");
    state.labels = new Map(Object.entries(labels));
  }

  // ---- filter and sort ----

  function keyOf(file, key) {
    switch (key) {
      case "label": return state.labels.get(file.path) || "";
      case "format": return formatOf(shownOf(file));
      case "seconds": return shownOf(file).seconds == null ? -1 : shownOf(file).seconds;
      default: return file[key];
    }
  }

  function refilter() {
    const text = $("filter").value.trim().toLowerCase();
    const kind = $("kind").value;
    const min = parseFloat($("min-seconds").value);
    const max = parseFloat($("max-seconds").value);
    const selectedPath = currentFile() ? currentFile().path : null;
    let shown = [];
    for (const file of state.files) {
      if (kind && file.kind !== kind) continue;
      if (!isNaN(min) && !(file.seconds != null && file.seconds >= min)) continue;
      if (!isNaN(max) && !(file.seconds != null && file.seconds <= max)) continue;
      if (text) {
        const label = (state.labels.get(file.path) || "").toLowerCase();
        if (!file.path.toLowerCase().includes(text) && !label.includes(text)) continue;
      }
      shown.push(file.index);
    }
    const { key, up } = state.sort;
    const group = similarGroup();
    if (group) {
      // The chosen sound, then those similar to it, best first.
      shown = group.filter((path) => state.byPath.has(path)).map((path) => state.byPath.get(path).index);
    } else if ($("identical").checked && state.hashes) {
      // Files of the same bytes next to each other, groups in listing order.
      const first = new Map();
      for (const index of shown) {
        const hash = state.hashes.get(state.files[index].path);
        if (!first.has(hash)) first.set(hash, index);
      }
      shown.sort((a, b) => {
        const ga = first.get(state.hashes.get(state.files[a].path));
        const gb = first.get(state.hashes.get(state.files[b].path));
        return ga - gb || a - b;
      });
    } else if (key) {
      shown.sort((a, b) => {
        const x = keyOf(state.files[a], key);
        const y = keyOf(state.files[b], key);
        const order = typeof x === "number" ? x - y : String(x).localeCompare(String(y));
        return (up ? order : -order) || a - b;
      });
    }
    state.shown = shown;
    state.selected = selectedPath ? shown.findIndex((i) => state.files[i].path === selectedPath) : -1;
    $("count").textContent = `${shown.length.toLocaleString("en-US")} of ${state.files.length.toLocaleString("en-US")} files`;
    $("spacer").style.height = shown.length * ROW_HEIGHT + "px";
    render();
  }

  // The rows "variations together" shows, or null: every file.
  function similarGroup() {
    const on = $("variations").checked && state.similar;
    $("similar-to").hidden = !on;
    if (!on) return null;
    $("similar-to-text").textContent = "similar to " + state.similar.path;
    return [state.similar.path, ...state.similar.paths];
  }

  // ---- the rows: only those in view are drawn ----

  function makeRow() {
    const row = document.createElement("div");
    row.className = "row";
    row.setAttribute("role", "row");
    const cells = {};
    for (const name of ["choose", "path", "kind", "size", "format", "seconds", "label"]) {
      const cell = document.createElement("span");
      cell.className = "cell " + name;
      row.appendChild(cell);
      cells[name] = cell;
    }
    const box = document.createElement("input");
    box.type = "checkbox";
    box.setAttribute("aria-label", "Choose for extraction");
    cells.choose.appendChild(box);
    row.cells_ = cells;
    row.box_ = box;
    return row;
  }

  function render() {
    const rows = $("rows");
    const top = rows.scrollTop;
    const first = Math.max(0, Math.floor(top / ROW_HEIGHT) - OVERSCAN);
    const last = Math.min(state.shown.length, Math.ceil((top + rows.clientHeight) / ROW_HEIGHT) + OVERSCAN);
    const needed = last - first;
    while (state.pool.length < needed) {
      const row = makeRow();
      rows.appendChild(row);
      state.pool.push(row);
    }
    for (let k = 0; k < state.pool.length; k++) {
      const row = state.pool[k];
      const position = first + k;
      if (k >= needed) {
        row.hidden = true;
        row.removeAttribute("data-path");
        continue;
      }
      const file = state.files[state.shown[position]];
      if (state.editing && state.editing.row === row && state.editing.path !== file.path) finishEditing(false);
      row.hidden = false;
      row.style.transform = `translateY(${position * ROW_HEIGHT}px)`;
      row.dataset.path = file.path;
      row.dataset.position = position;
      row.classList.toggle("selected", position === state.selected);
      const c = row.cells_;
      c.path.textContent = file.path;
      c.path.title = file.path;
      c.kind.textContent = file.kind;
      if (state.changed.has(file.path)) {
        const badge = document.createElement("span");
        badge.className = "badge";
        badge.textContent = "changed";
        c.kind.appendChild(badge);
      }
      if (state.hashes && $("identical").checked) {
        const same = sameCount(file);
        if (same > 1) {
          const mark = document.createElement("span");
          mark.className = "same";
          mark.textContent = `= ${same}`;
          c.kind.appendChild(mark);
        }
      }
      const now = shownOf(file);
      c.size.textContent = sizeText(now.size);
      c.format.textContent = formatOf(now);
      c.seconds.textContent = now.seconds == null ? "" : now.seconds.toFixed(2) + " s";
      if (!(state.editing && state.editing.row === row)) {
        c.label.textContent = state.labels.get(file.path) || "";
      }
      row.box_.checked = state.chosen.has(file.path);
    }
  }

  let hashCounts = null;
  function sameCount(file) {
    if (!hashCounts) {
      hashCounts = new Map();
      for (const hash of state.hashes.values()) hashCounts.set(hash, (hashCounts.get(hash) || 0) + 1);
    }
    return hashCounts.get(state.hashes.get(file.path)) || 0;
  }

  function currentFile() {
    return state.selected >= 0 && state.selected < state.shown.length ? state.files[state.shown[state.selected]] : null;
  }

  function rowOfEvent(event) {
    const row = event.target.closest(".row");
    return row && row.dataset.path ? row : null;
  }

  // ---- selection, playing and the waveform ----

  function select(position, play) {
    if (position < 0 || position >= state.shown.length) return;
    state.selected = position;
    const rows = $("rows");
    const y = position * ROW_HEIGHT;
    if (y < rows.scrollTop) rows.scrollTop = y;
    else if (y + ROW_HEIGHT > rows.scrollTop + rows.clientHeight) rows.scrollTop = y + ROW_HEIGHT - rows.clientHeight;
    render();
    showDetail(play);
  }

  function showDetail(play) {
    const file = currentFile();
    if (!file) return;
    $("detail-path").textContent = file.path;
    const label = state.labels.get(file.path);
    const describe = (record) => [sizeText(record.size) + " bytes", formatOf(record),
      record.seconds == null ? "" : record.seconds.toFixed(2) + " s"].filter(Boolean).join(", ");
    const inFolder = state.changedFiles.get(file.path);
    const facts = [file.kind, inFolder ? "in the folder: " + describe(inFolder) + "; in the archive: " + describe(file)
      : describe(file), label ? "“" + label + "”" : ""];
    $("detail-facts").textContent = facts.filter(Boolean).join(" · ");
    const sound = file.kind === "sound";
    const changed = state.changed.has(file.path);
    $("play-original").disabled = !sound;
    $("play-new").disabled = !sound || !changed;
    $("undo").disabled = !changed;
    $("similar").disabled = !sound;
    const similarList = $("similar-results");
    if (similarList.dataset.path !== file.path) {
      similarList.hidden = true;
      similarList.textContent = "";
      delete similarList.dataset.done;
    }
    setEnabled($("swap-label"), sound);
    setEnabled($("download"), true);
    $("download").href = withToken("/api/file/" + encodedPath(file.path) + "?download=1");
    for (const format of ["wav", "flac"]) {
      const link = $("export-" + format);
      setEnabled(link, sound);
      link.href = sound ? withToken("/api/export/" + encodedPath(file.path) + "?format=" + format) : "#";
    }
    const player = $("player");
    if (sound) {
      player.hidden = false;
      loadSound(file, "archive", play);
    } else {
      player.pause();
      player.removeAttribute("src");
      player.hidden = true;
      state.peaks = null;
      state.spectrogram = null;
      state.spectrogramError = null;
      drawCanvases();
    }
  }

  // The stored bytes where the browser reads them itself (they are what the
  // archive holds, byte for byte), the studio's decoded WAV for the rest.
  function playsAsStored(file, from) {
    const encoding = (from === "output" ? shownOf(file) : file).encoding;
    return typeof encoding !== "string" || PLAYS_AS_STORED.has(encoding);
  }

  function loadSound(file, from, play) {
    const player = $("player");
    $("cannot-play").hidden = true;
    const stored = playsAsStored(file, from);
    const src = stored ? fileUrl(file.path, from) : decodedUrl(file.path, from);
    player.dataset.path = file.path;
    player.dataset.from = from;
    player.dataset.via = stored ? "stored" : "decoded";
    player.dataset.wanted = play ? "play" : "";
    if (player.getAttribute("src") !== src) player.src = src;
    if (play) player.play().catch(() => {});
    seekIfPending();
    loadPictures(file, from);
  }

  function loadPictures(file, from) {
    loadPeaks(file, from);
    loadSpectrogram(file, from);
  }

  // A sound chosen from a search plays from where the clip was found: the
  // position is set once the player knows the sound's length.
  function seekIfPending() {
    const player = $("player");
    const seek = state.pendingSeek;
    if (!seek || player.dataset.path !== seek.path || player.readyState < 1) return;
    state.pendingSeek = null;
    try {
      player.currentTime = Math.min(seek.offset, Number.isFinite(player.duration) ? player.duration : seek.offset);
    } catch (error) {
      // Not seekable (yet): it plays from the start.
    }
  }

  // The audio element says only that it failed; the decoded address says
  // why (a 422 with the decoder's reason).
  async function whyNotPlayable(src, code) {
    try {
      const response = await fetch(src, { headers: { Range: "bytes=0-0" }, cache: "no-store" });
      if (!response.ok) {
        const type = response.headers.get("Content-Type") || "";
        const body = type.startsWith("application/json") ? await response.json() : { error: await response.text() };
        if (body && body.error) return String(body.error).trim().replace(/\.$/, "");
      }
    } catch (error) {
      // Fall back to what the audio element said.
    }
    const reasons = { 1: "its loading was stopped", 2: "it could not be read", 3: "its encoding could not be decoded",
      4: "its encoding is not one this browser plays" };
    return reasons[code] || "the browser refused it";
  }

  async function playerFailed() {
    const player = $("player");
    const src = player.getAttribute("src");
    if (!src) return;
    const file = state.byPath.get(player.dataset.path);
    if (player.dataset.via === "stored" && file) {
      // Once: the browser may not read a stored sound it was expected to.
      player.dataset.via = "decoded";
      player.src = decodedUrl(file.path, player.dataset.from);
      if (player.dataset.wanted === "play") player.play().catch(() => {});
      return;
    }
    const reason = await whyNotPlayable(src, player.error && player.error.code);
    if (player.getAttribute("src") !== src) return;  // another sound was chosen meanwhile
    const box = $("cannot-play");
    box.textContent = "This sound cannot be played here: " + reason + ".";
    box.hidden = false;
  }

  // The width a canvas is drawn at, in device pixels.
  const drawnWidth = (canvas) => Math.max(1, Math.round(canvas.clientWidth * (window.devicePixelRatio || 1)));

  async function loadPeaks(file, from) {
    const canvas = $("wave");
    // Zoomed in, more buckets: the part shown keeps a bucket per pixel.
    const n = Math.max(64, Math.min(8192, drawnWidth(canvas) * state.zoom));
    const query = `?n=${n}` + (from === "output" ? "&from=output" : "");
    const asked = file.path + query;
    state.peaksAsked = asked;
    state.peaks = null;
    state.peaksError = null;
    canvas.dataset.state = "loading";
    canvas.dataset.n = String(n);
    drawWave();
    try {
      const peaks = await api("/api/peaks/" + encodedPath(file.path) + query);
      if (currentFile() === file && state.peaksAsked === asked) {
        state.peaks = peaks.peaks ? peaks : null;
        state.peaksError = peaks.peaks ? null : peaks.error || null;
        $("wave").dataset.state = peaks.peaks ? "drawn" : peaks.error ? "undecodable" : "none";
        drawWave();
      }
    } catch (error) {
      notice("The waveform could not be made: " + error.message, true);
    }
  }

  // A picture's canvas, cleared at the size it is shown (or its text comes
  // out squashed): its 2D context and the device's pixel ratio.
  function clearedCanvas(canvas) {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.round(canvas.clientWidth * ratio);
    const height = Math.round(canvas.clientHeight * ratio);
    if (width > 0 && height > 0 && (canvas.width !== width || canvas.height !== height)) {
      canvas.width = width;
      canvas.height = height;
    }
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    return { g, ratio };
  }

  // In place of a picture: why there is none, for a sound.
  function sayWhyNoPicture(canvas, g, ratio, text) {
    const file = currentFile();
    g.fillStyle = "#8a93a6";
    g.font = `${Math.round(13 * ratio)}px system-ui, sans-serif`;
    g.fillText(file && file.kind === "sound" ? text : "", 12, canvas.height / 2);
  }

  function drawWave() {
    const canvas = $("wave");
    const { g, ratio } = clearedCanvas(canvas);
    const peaks = state.peaks;
    if (!peaks) {
      sayWhyNoPicture(canvas, g, ratio,
        state.peaksError ? "this sound does not decode: " + state.peaksError : "no waveform for this format");
      return;
    }
    const lanes = peaks.peaks.length;
    const lane = canvas.height / lanes;
    const start = viewStart();
    g.fillStyle = "#7fb2ff";
    peaks.peaks.forEach((pairs, channel) => {
      const middle = lane * channel + lane / 2;
      const scale = lane / 2 - 2;
      const first = Math.floor(start * pairs.length);
      const count = Math.max(1, Math.round(pairs.length / state.zoom));
      const step = canvas.width / count;
      for (let i = 0; i < count && first + i < pairs.length; i++) {
        const [low, high] = pairs[first + i];
        const y1 = middle - high * scale;
        const y2 = middle - low * scale;
        g.fillRect(i * step, y1, Math.max(1, step), Math.max(1, y2 - y1));
      }
    });
    drawPlayPosition(canvas, g, start);
  }

  // Where the play position is, as a fraction of the sound (0 before it is known).
  function playFraction() {
    const player = $("player");
    return player.duration > 0 && Number.isFinite(player.duration) ? Math.min(1, player.currentTime / player.duration) : 0;
  }

  // The fraction of the sound at the pictures' left edge: zoomed in, the
  // part shown follows the play position, which stays in its middle.
  function viewStart() {
    const shown = 1 / state.zoom;
    return Math.max(0, Math.min(1 - shown, playFraction() - shown / 2));
  }

  function drawPlayPosition(canvas, g, start) {
    if (!($("player").duration > 0)) return;
    const x = (playFraction() - start) * state.zoom * canvas.width;
    g.fillStyle = "#ffcf4a";
    g.fillRect(x, 0, 2, canvas.height);
  }

  function drawCanvases() {
    drawWave();
    drawSpectrogram();
  }

  // ---- the spectrogram ----

  // Levels 0..255 (dB) to colours, from the canvas's own background at
  // silence to pale yellow at the loudest.
  const PALETTE = (() => {
    const stops = [[0, 29, 35, 48], [0.35, 62, 44, 140], [0.65, 196, 62, 96], [0.85, 248, 176, 62], [1, 255, 250, 214]];
    const colours = new Uint8Array(256 * 3);
    for (let level = 0; level < 256; level++) {
      const t = level / 255;
      let k = 1;
      while (k < stops.length - 1 && stops[k][0] < t) k++;
      const [t0, ...a] = stops[k - 1];
      const [t1, ...b] = stops[k];
      const f = (t - t0) / (t1 - t0);
      for (let c = 0; c < 3; c++) colours[level * 3 + c] = Math.round(a[c] + (b[c] - a[c]) * f);
    }
    return colours;
  })();

  // The answer's levels (column after column, row 0 the lowest frequency)
  // as an image, lowest frequency at the bottom.
  function spectrogramImage(answer) {
    const { columns, rows } = answer;
    const bytes = Uint8Array.from(atob(answer.data), (c) => c.charCodeAt(0));
    if (bytes.length !== columns * rows) throw new Error(`${bytes.length} levels for ${columns} x ${rows}`);
    const image = document.createElement("canvas");
    image.width = columns;
    image.height = rows;
    const g = image.getContext("2d");
    const pixels = g.createImageData(columns, rows);
    for (let x = 0; x < columns; x++) {
      for (let row = 0; row < rows; row++) {
        const level = bytes[x * rows + row];
        const at = ((rows - 1 - row) * columns + x) * 4;
        pixels.data[at] = PALETTE[level * 3];
        pixels.data[at + 1] = PALETTE[level * 3 + 1];
        pixels.data[at + 2] = PALETTE[level * 3 + 2];
        pixels.data[at + 3] = 255;
      }
    }
    g.putImageData(pixels, 0, 0);
    return image;
  }

  async function loadSpectrogram(file, from) {
    const canvas = $("spectrogram");
    const w = Math.max(1, Math.min(4096, drawnWidth(canvas) * state.zoom));
    const h = 128;
    const query = `?w=${w}&h=${h}` + (from === "output" ? "&from=output" : "");
    const asked = file.path + query;
    state.spectrogramAsked = asked;
    state.spectrogram = null;
    state.spectrogramError = null;
    canvas.dataset.state = "loading";
    canvas.dataset.w = String(w);
    drawSpectrogram();
    let answer;
    try {
      answer = await api("/api/spectrogram/" + encodedPath(file.path) + query);
    } catch (error) {
      answer = { data: null, error: error.message };
    }
    if (currentFile() !== file || state.spectrogramAsked !== asked) return;
    try {
      state.spectrogram = answer.data ? { ...answer, image: spectrogramImage(answer) } : null;
      state.spectrogramError = answer.data ? null : answer.error || "no spectrogram";
    } catch (error) {
      state.spectrogramError = "the spectrogram could not be read: " + error.message;
    }
    canvas.dataset.state = state.spectrogram ? "drawn" : "undecodable";
    drawSpectrogram();
  }

  function drawSpectrogram() {
    const canvas = $("spectrogram");
    const { g, ratio } = clearedCanvas(canvas);
    const picture = state.spectrogram;
    if (!picture) {
      sayWhyNoPicture(canvas, g, ratio, state.spectrogramError || "");
      return;
    }
    const start = viewStart();
    const columns = picture.columns / state.zoom;
    g.drawImage(picture.image, start * picture.columns, 0, columns, picture.rows, 0, 0, canvas.width, canvas.height);
    drawPlayPosition(canvas, g, start);
  }

  // Zoomed: the pictures are asked again with more detail.
  function setZoom(zoom) {
    const next = Math.max(1, Math.min(64, zoom));
    if (next === state.zoom) return;
    state.zoom = next;
    $("zoom-level").textContent = next + "×";
    $("detail").dataset.zoom = String(next);
    $("zoom-in").disabled = next === 64;
    $("zoom-out").disabled = next === 1;
    const file = currentFile();
    if (file && file.kind === "sound") loadPictures(file, $("player").dataset.from || "archive");
    else drawCanvases();
  }

  // A click on either picture plays from the point clicked.
  function seekToClick(event) {
    const player = $("player");
    const canvas = event.currentTarget;
    if (!(player.duration > 0) || !Number.isFinite(player.duration)) return;
    const x = (event.clientX - canvas.getBoundingClientRect().left) / canvas.clientWidth;
    const fraction = viewStart() + Math.max(0, Math.min(1, x)) / state.zoom;
    player.currentTime = fraction * player.duration;
    drawCanvases();
  }

  function playFrom(from) {
    const file = currentFile();
    if (!file) return;
    loadSound(file, from, true);
  }

  // ---- labels ----

  function startEditing(row) {
    if (!row) return;
    const path = row.dataset.path;
    finishEditing(true);
    const input = document.createElement("input");
    input.type = "text";
    input.maxLength = 200;
    input.value = state.labels.get(path) || "";
    input.setAttribute("aria-label", "Label of " + path);
    const cell = row.cells_.label;
    cell.textContent = "";
    cell.appendChild(input);
    state.editing = { row, path, input };
    input.focus();
    input.addEventListener("keydown", (event) => {
      event.stopPropagation();
      if (event.key === "Enter") finishEditing(true);
      if (event.key === "Escape") finishEditing(false);
    });
    input.addEventListener("blur", () => finishEditing(true));
  }

  async function finishEditing(save) {
    const editing = state.editing;
    if (!editing) return;
    state.editing = null;
    const label = editing.input.value;
    editing.input.remove();
    $("table").focus();
    if (save && label !== (state.labels.get(editing.path) || "")) {
      try {
        await api("/api/labels", { method: "POST", headers: { "Content-Type": "application/json" },
          body: JSON.stringify({ path: editing.path, label }) });
        if (label) state.labels.set(editing.path, label);
        else state.labels.delete(editing.path);
        notice("");
      } catch (error) {
        notice("The label was not saved: " + error.message, true);
      }
    }
    render();
    if (currentFile() && currentFile().path === editing.path) showDetail(false);
  }

  async function importLabels(file) {
    try {
      const text = await file.text();
      const m = await api("/api/labels/import", { method: "POST", headers: { "Content-Type": "text/plain" }, body: text });
      await loadLabels();
      notice(`${file.name}: ${m.by_hash} lines matched by hash, ${m.by_path} by path only, ${m.unmatched} not at all` +
        (m.rejected ? `; ${m.rejected} lines were not understood` : "") + ".");
      refilter();
    } catch (error) {
      notice("The labels were not imported: " + error.message, true);
    }
  }

  // ---- runs: one at a time, with the bar ----

  let polling = null;
  function watchRun(on, starting = "Starting…") {
    $("run").hidden = !on;
    for (const id of ["extract-all", "extract-chosen", "pack", "export", "export-now"]) {
      $(id).disabled = on || (id === "extract-chosen" && !state.chosen.size);
    }
    updateSwapButtons();
    if (polling) clearInterval(polling);
    polling = null;
    if (!on) return;
    $("run-progress").value = 0;
    $("run-status").textContent = starting;
    polling = setInterval(async () => {
      try {
        const run = await api("/api/run");
        $("run-status").textContent = run.status || run.name;
        $("run-progress").value = run.total ? run.done / run.total : 0;
      } catch (error) {
        // The bar is a comfort; the run's own answer tells how it went.
      }
    }, 200);
  }

  // A run sends its body with a POST; one with no body (a search by a
  // listed sound) is a GET.
  async function run(path, body, starting) {
    watchRun(true, starting);
    try {
      return await api(path, body === undefined ? {} : { method: "POST", body });
    } finally {
      watchRun(false);
    }
  }

  async function refreshAfterRun() {
    watchIndex(); // a pack's new sounds are indexed after it
    await loadStatus().catch(() => {});
    render();
    showDetail(false);
  }

  async function extract(paths) {
    try {
      const result = await run("/api/extract", JSON.stringify(paths ? { paths } : {}));
      notice(`Extracted ${result.extracted} files into ${result.folder || "the output folder"}.`);
    } catch (error) {
      notice("Extraction: " + error.message, true);
    }
    await refreshAfterRun();
  }

  // ---- finding a sound by ear ----

  const MAX_FOUND = 10;
  const MAX_CLIP_BYTES = 32 * 1024 * 1024;
  const RECORD_SECONDS = 10;

  // A result's line: path, label, where in the sound, score. A click
  // selects its row and plays it from there.
  function foundItem(match) {
    const item = document.createElement("li");
    item.dataset.path = match.path;
    const parts = [["path", match.path], ["label", state.labels.get(match.path) || ""],
      ["at", typeof match.offset === "number" ? `at ${match.offset.toFixed(3)} s` : ""], ["score", `score ${match.score}`]];
    for (const [name, text] of parts) {
      const span = document.createElement("span");
      span.className = name;
      span.textContent = text;
      item.appendChild(span);
    }
    if (typeof match.offset === "number") item.dataset.offset = String(match.offset);
    item.tabIndex = 0;
    const choose = () => choosePath(match.path, typeof match.offset === "number" ? match.offset : 0);
    item.addEventListener("click", choose);
    item.addEventListener("keydown", (event) => {
      if (event.key === "Enter") choose();
    });
    return item;
  }

  function showFound(list, matches, emptyText) {
    list.textContent = "";
    for (const match of matches) list.appendChild(foundItem(match));
    if (!matches.length) {
      const item = document.createElement("li");
      item.className = "none";
      item.textContent = emptyText;
      list.appendChild(item);
    }
    list.hidden = false;
    list.dataset.done = "1";
  }

  // Selects a listed file's row (the filters give way if they hide it) and
  // plays it from `offset` seconds.
  function choosePath(path, offset) {
    const file = state.byPath.get(path);
    if (!file) return;
    let position = state.shown.indexOf(file.index);
    if (position < 0) {
      for (const id of ["filter", "min-seconds", "max-seconds", "kind"]) $(id).value = "";
      if (state.similar && !similarGroup()?.includes(path)) clearSimilar();
      refilter();
      position = state.shown.indexOf(file.index);
    }
    state.pendingSeek = { path, offset };
    $("table").focus();
    select(position, true);
    seekIfPending();
  }

  // The studio indexes the game's sounds from its start, so that a search
  // answers at once; until it has, the panel says how far it is. It waits
  // while a run the user asked for is under way, and goes on after.
  const INDEX_POLL_MS = 500;
  let indexAsking = false;
  let indexTimer = null;
  async function watchIndex() {
    if (indexAsking) return;
    indexAsking = true;
    clearTimeout(indexTimer);
    indexTimer = null;
    try {
      showIndex(await api("/api/index"));
    } catch (error) {
      // The studio has ended, or the token is stale: the searches say so.
    } finally {
      indexAsking = false;
    }
  }

  function showIndex(index) {
    const line = $("find-index");
    line.dataset.state = index.state;
    line.classList.toggle("error", index.state === "failed");
    if (index.state === "indexing") {
      const percent = index.total ? Math.floor(100 * index.done / index.total) : 0;
      line.textContent = `Indexing the game's sounds for the search: ${percent} %`;
    } else if (index.state === "waiting") {
      line.textContent = "Indexing the game's sounds waits for the run under way.";
    } else if (index.state === "failed") {
      line.textContent = "The sounds could not be indexed ahead: a search indexes them itself. " + index.message;
    } else {
      line.textContent = index.state === "ready" ? "Every sound is indexed for the search." : "";
      return;
    }
    indexTimer = setTimeout(watchIndex, INDEX_POLL_MS);
  }

  function findStatus(text, error = false) {
    const status = $("find-status");
    status.textContent = text;
    status.classList.toggle("error", error);
  }

  async function findClip(blob, name) {
    const results = $("find-results");
    delete results.dataset.done;
    delete results.dataset.error;
    if (blob.size > MAX_CLIP_BYTES) {
      findStatus(`${name} is ${blob.size.toLocaleString("en-US")} bytes: a clip of at most 32 MiB is needed; ` +
        "cut a shorter one.", true);
      return;
    }
    if (!$("run").hidden) {
      findStatus("Another run is under way: send the clip again once it has ended.", true);
      return;
    }
    findStatus(`Looking for ${name}…`);
    results.textContent = "";
    try {
      const query = new URLSearchParams({ max: String(MAX_FOUND), name });
      const answer = await run("/api/find?" + query.toString(), blob, "Indexing the game's sounds…");
      const found = answer.found || [];
      // Sounds the index could not read are named, not silently left out.
      const failures = Array.isArray(answer.failures) ? answer.failures : [];
      findStatus(`${name}: ${found.length ? found.length + " found" : "nothing found"} among ${answer.sounds} sounds` +
        (answer.fingerprinted ? ` (${answer.fingerprinted} indexed now)` : "") +
        (failures.length ? `; not searched: ${failures.join("; ")}` : "") +
        (answer.not_kept ? `; the index was not kept (${answer.not_kept}): the next search indexes again` : "") + ".");
      showFound(results, found, "nothing in the game holds this clip");
    } catch (error) {
      findStatus(`${name}: ${error.message}`, true);
      results.dataset.error = "1";
      results.dataset.done = "1";
    }
  }

  // A recording's samples as a 16-bit mono PCM WAV: the plainest file the
  // studio's decoder reads.
  function monoWav(audio) {
    const frames = audio.length;
    const samples = new Float32Array(frames);
    for (let c = 0; c < audio.numberOfChannels; c++) {
      const channel = audio.getChannelData(c);
      for (let i = 0; i < frames; i++) samples[i] += channel[i] / audio.numberOfChannels;
    }
    const bytes = new DataView(new ArrayBuffer(44 + frames * 2));
    const text = (at, word) => [...word].forEach((ch, k) => bytes.setUint8(at + k, ch.charCodeAt(0)));
    const rate = audio.sampleRate;
    text(0, "RIFF");
    bytes.setUint32(4, 36 + frames * 2, true);
    text(8, "WAVE");
    text(12, "fmt ");
    bytes.setUint32(16, 16, true);
    bytes.setUint16(20, 1, true);          // PCM
    bytes.setUint16(22, 1, true);          // mono
    bytes.setUint32(24, rate, true);
    bytes.setUint32(28, rate * 2, true);   // bytes a second
    bytes.setUint16(32, 2, true);          // bytes a frame
    bytes.setUint16(34, 16, true);
    text(36, "data");
    bytes.setUint32(40, frames * 2, true);
    for (let i = 0; i < frames; i++) {
      const v = Math.max(-1, Math.min(1, samples[i]));
      bytes.setInt16(44 + i * 2, Math.round(v * 32767), true);
    }
    return new Blob([bytes.buffer], { type: "audio/wav" });
  }

  const recording = { recorder: null, stream: null, timer: null, ticker: null, started: 0 };

  function showRecording(on) {
    const button = $("find-record");
    button.textContent = on ? "Stop" : "Record";
    button.setAttribute("aria-pressed", String(on));
  }

  async function startRecording() {
    findStatus("Opening the microphone…");
    if (!navigator.mediaDevices || !window.MediaRecorder) {
      findStatus("This browser cannot record here: choose or drop a clip instead.", true);
      return;
    }
    let stream;
    try {
      stream = await navigator.mediaDevices.getUserMedia({ audio: true });
    } catch (error) {
      findStatus("The microphone could not be opened (" + error.message + "): allow it, or choose a clip.", true);
      return;
    }
    const chunks = [];
    const recorder = new MediaRecorder(stream);
    recorder.addEventListener("dataavailable", (event) => {
      if (event.data.size) chunks.push(event.data);
    });
    recorder.addEventListener("stop", () => finishRecording(chunks, recorder.mimeType));
    Object.assign(recording, { recorder, stream, started: performance.now() });
    recording.timer = setTimeout(stopRecording, RECORD_SECONDS * 1000);
    recording.ticker = setInterval(() => {
      const seconds = (performance.now() - recording.started) / 1000;
      $("find-record").dataset.seconds = seconds.toFixed(1);
      findStatus(`Recording… ${seconds.toFixed(1)} s (at most ${RECORD_SECONDS} s)`);
    }, 100);
    recorder.start(250);
    showRecording(true);
    // The last clip's answer goes: the recording's comes in its place.
    delete $("find-results").dataset.done;
    $("find-results").textContent = "";
    findStatus("Recording…");
  }

  function stopRecording() {
    clearTimeout(recording.timer);
    clearInterval(recording.ticker);
    if (recording.recorder && recording.recorder.state !== "inactive") recording.recorder.stop();
    if (recording.stream) for (const track of recording.stream.getTracks()) track.stop();
    recording.recorder = null;
    recording.stream = null;
    delete $("find-record").dataset.seconds;
    showRecording(false);
  }

  // The browser's recording (Ogg or WebM) decoded here, sent as a WAV.
  async function finishRecording(chunks, type) {
    if (!chunks.length) {
      findStatus("Nothing was recorded: record again, a little longer.", true);
      return;
    }
    let wav;
    const context = new AudioContext();
    try {
      const encoded = await new Blob(chunks, { type }).arrayBuffer();
      wav = monoWav(await context.decodeAudioData(encoded));
    } catch (error) {
      findStatus("The recording could not be decoded (" + error.message + "): record again, or choose a clip.", true);
      return;
    } finally {
      context.close();
    }
    await findClip(wav, "recording.wav");
  }

  function toggleFind(open) {
    $("find").hidden = !open;
    $("find-open").setAttribute("aria-expanded", String(open));
    if (!open && recording.recorder) stopRecording();
  }

  // ---- similar sounds ----

  function clearSimilar() {
    state.similar = null;
    $("similar-to").hidden = true;
  }

  async function findSimilar() {
    const file = currentFile();
    if (!file || file.kind !== "sound") return;
    const list = $("similar-results");
    list.dataset.path = file.path;
    delete list.dataset.done;
    list.hidden = false;
    list.textContent = "";
    const waiting = document.createElement("li");
    waiting.className = "none";
    waiting.textContent = "Looking…";
    list.appendChild(waiting);
    try {
      const answer = await run("/api/similar/" + encodedPath(file.path) + "?max=" + MAX_FOUND, undefined,
        "Indexing the game's sounds…");
      if (list.dataset.path !== file.path) return;
      const similar = (answer.similar || []).filter((match) => state.byPath.has(match.path));
      showFound(list, similar, "none");
      state.similar = { path: file.path, paths: similar.map((match) => match.path) };
      if ($("variations").checked) refilter();
    } catch (error) {
      if (list.dataset.path !== file.path) return;
      list.textContent = "";
      const item = document.createElement("li");
      item.className = "none error";
      item.textContent = "Similar sounds: " + error.message;
      list.appendChild(item);
      list.dataset.done = "1";
    }
  }

  // ---- export ----

  function openExport() {
    const chosen = state.chosen.size;
    $("export-chosen").disabled = !chosen;
    $("export-chosen-text").textContent = chosen === 1 ? "the 1 chosen file" : `the ${chosen} chosen files`;
    $(chosen ? "export-chosen" : "export-every").checked = true;
    $("export-result").hidden = true;
    $("export-dialog").showModal();
  }

  async function exportNow() {
    const body = { format: $("export-format").value };
    if ($("export-chosen").checked) body.paths = [...state.chosen];
    const summary = $("export-summary");
    const failures = $("export-failures");
    failures.textContent = "";
    $("export-left").textContent = "";
    delete $("export-result").dataset.done;
    try {
      const result = await run("/api/export", JSON.stringify(body));
      summary.classList.remove("error");
      summary.textContent = `${result.exported} ${result.exported === 1 ? "sound" : "sounds"} exported to ${result.folder}.`;
      for (const failure of result.failures || []) {
        const item = document.createElement("li");
        item.textContent = failure;
        failures.appendChild(item);
      }
      if (result.failed) {
        const item = document.createElement("li");
        item.textContent = `${result.failed} ${result.failed === 1 ? "sound was" : "sounds were"} not exported.`;
        failures.prepend(item);
      }
      const left = result.left ? [`${result.left} ${result.left === 1 ? "file that is not a sound was" :
        "files that are not sounds were"} left.`] : [];
      $("export-left").textContent = [...left, ...(result.warnings || [])].join("\n");
      $("export-result").dataset.exported = String(result.exported);
    } catch (error) {
      summary.classList.add("error");
      summary.textContent = "The export failed: " + error.message;
    }
    $("export-result").hidden = false;
    $("export-result").dataset.done = "1";
  }

  // ---- swaps: fitted to the sound they replace, heard before they are made ----

  const swapPanel = {
    path: null,      // the sound being replaced
    file: null,      // the File chosen or dropped
    previewUrl: "",  // the address of the last dry run's converted sound
    ready: false,    // a dry run (or "as it is") says the swap can be sent
    busy: null,      // the last dry run sent, settled or not (never rejects)
    generation: 0,   // answers of dry runs that were overtaken are dropped
  };

  function swapFlags() {
    if ($("swap-as-is").checked) return { as_is: "1" };
    const flags = {};
    if ($("swap-keep-loudness").checked) flags.keep_loudness = "1";
    if ($("swap-fit-length").checked) flags.fit_length = "1";
    return flags;
  }

  function swapAddress(path, file, flags) {
    const query = new URLSearchParams({ name: file.name, ...flags });
    return "/api/swap/" + encodedPath(path) + "?" + query.toString();
  }

  function releasePreview() {
    for (const id of ["swap-original", "swap-converted"]) {
      const audio = $(id);
      audio.pause();
      audio.removeAttribute("src");
      audio.load();
    }
    swapPanel.previewUrl = "";
    markHearing(null);
  }

  function updateSwapButtons() {
    const running = !$("run").hidden;
    $("swap-now").disabled = running || !swapPanel.ready;
    $("swap-hear-converted").disabled = !swapPanel.previewUrl;
    const asIs = $("swap-as-is").checked;
    $("swap-keep-loudness").disabled = asIs;
    $("swap-fit-length").disabled = asIs;
  }

  function swapStatus(text, error = false) {
    const status = $("swap-status");
    status.textContent = text;
    status.classList.toggle("error", error);
  }

  function showSwapReport(answer) {
    $("swap-report").textContent = answer.report || "";
    const notes = $("swap-notes");
    notes.textContent = "";
    for (const note of answer.notes || []) {
      const item = document.createElement("li");
      item.textContent = note;
      notes.appendChild(item);
    }
  }

  function openSwap(path, file) {
    swapPanel.path = path;
    swapPanel.file = file;
    for (const id of ["swap-keep-loudness", "swap-fit-length", "swap-as-is"]) $(id).checked = false;
    $("swap-title").textContent = `Replace ${path} with ${file.name}`;
    $("player").pause();  // the A/B is heard alone
    const dialog = $("swap-dialog");
    if (!dialog.open) dialog.showModal();
    previewSwap();
  }

  // The dry run: the file converted as it would be swapped, its report, and
  // the converted sound kept by the studio for the A/B.
  async function previewSwap() {
    const generation = ++swapPanel.generation;
    const { path, file } = swapPanel;
    releasePreview();
    swapPanel.ready = false;
    $("swap-report").textContent = "";
    $("swap-notes").textContent = "";
    delete $("swap-dialog").dataset.state;
    $("swap-original").src = decodedUrl(path, "archive");
    if ($("swap-as-is").checked) {
      swapPanel.ready = true;
      swapStatus(`${file.name} will take the place of ${path} byte for byte, unconverted: it must be a WAV that ` +
        "the sound's archive can hold.");
      $("swap-dialog").dataset.state = "as-is";
      updateSwapButtons();
      return;
    }
    swapStatus(`Converting ${file.name}…`);
    updateSwapButtons();
    // One run at a time: a dry run overtaken by a changed option ends
    // before the next is sent, or the studio would answer that it is busy.
    const previous = swapPanel.busy;
    const work = (async () => {
      await previous;
      if (generation !== swapPanel.generation) return;
      const answer = await run(swapAddress(path, file, { dry_run: "1", ...swapFlags() }), file);
      if (generation !== swapPanel.generation) return;
      showSwapReport(answer);
      // Served with no-store: a new dry run's sound is fetched anew at the
      // same address once the element was emptied (releasePreview).
      swapPanel.previewUrl = withToken("/api/preview/" + encodedPath(path));
      $("swap-converted").src = swapPanel.previewUrl;
      swapPanel.ready = true;
      swapStatus($("swap-keep-loudness").checked
        ? "Hear the archived sound and the converted one (which keeps its own loudness), then swap."
        : "Hear the archived sound and the converted one (the same loudness at the same volume), then swap.");
      $("swap-dialog").dataset.state = "previewed";
    })();
    swapPanel.busy = work.catch(() => {});
    try {
      await work;
    } catch (error) {
      if (generation !== swapPanel.generation) return;
      // The answer says what is wrong, what to do and which sound stays.
      swapStatus(error.message, true);
      $("swap-dialog").dataset.state = "refused";
    }
    updateSwapButtons();
  }

  async function swapNow() {
    const { path, file } = swapPanel;
    if (!path || !file) return;
    swapPanel.ready = false;
    updateSwapButtons();
    await swapPanel.busy;
    releasePreview();
    swapStatus(`Swapping ${file.name} in…`);
    try {
      const answer = await run(swapAddress(path, file, swapFlags()), file);
      state.changed.add(path);
      state.takes.set(path, (state.takes.get(path) || 0) + 1);
      notice(answer && answer.report ? `${path} is now ${file.name}: ${answer.report}` : `${path} is now ${file.name}.`);
      closeSwap();
    } catch (error) {
      swapStatus(error.message, true);
      $("swap-dialog").dataset.state = "refused";
      notice(error.message, true);
      swapPanel.ready = $("swap-as-is").checked;
    }
    updateSwapButtons();
    await refreshAfterRun();
  }

  function closeSwap() {
    swapPanel.generation++;
    releasePreview();
    swapPanel.path = null;
    swapPanel.file = null;
    swapPanel.ready = false;
    if ($("swap-dialog").open) $("swap-dialog").close();
  }

  function markHearing(which) {
    $("swap-hear-original").setAttribute("aria-pressed", String(which === "original"));
    $("swap-hear-converted").setAttribute("aria-pressed", String(which === "converted"));
    $("swap-dialog").dataset.hearing = which || "";
  }

  // A/B: the other sound goes on from where this one was.
  function hear(which) {
    const audio = $("swap-" + which);
    const other = $(which === "original" ? "swap-converted" : "swap-original");
    const position = other.paused ? audio.currentTime : other.currentTime;
    other.pause();
    if (Number.isFinite(position)) {
      try {
        audio.currentTime = Number.isFinite(audio.duration) ? Math.min(position, audio.duration) : position;
      } catch (error) {
        // Not loaded far enough to seek: it starts from where it is.
      }
    }
    audio.play().catch(() => {});
    markHearing(which);
  }

  // ---- swaps by name: several files dropped on the table ----

  const stemOf = (name) => name.replace(/\.[^.]*$/, "");
  const baseName = (path) => path.slice(path.lastIndexOf("/") + 1);

  // The sounds a file's name stands for, by the first rule that names any:
  // a listed file name (with or without its extension, or the same stem),
  // an archive's number ("speech-18", "speech_18", "speech 18"), a label.
  function soundsNamedBy(fileName) {
    const name = fileName.toLowerCase();
    const stem = stemOf(name);
    const sounds = state.files.filter((file) => file.kind === "sound");
    const byName = sounds.filter((file) => {
      const listed = baseName(file.path).toLowerCase();
      return listed === name || stemOf(listed) === stem;
    });
    if (byName.length) return byName;
    const numbered = /^([a-z0-9]+)[-_ ](\d+)$/.exec(stem);
    if (numbered) {
      const [, archive, number] = numbered;
      const byNumber = sounds.filter((file) => {
        const listed = /^([a-z0-9]+)_(\d+)$/.exec(stemOf(baseName(file.path)).toLowerCase());
        return listed && listed[1] === archive && Number(listed[2]) === Number(number);
      });
      if (byNumber.length) return byNumber;
    }
    return sounds.filter((file) => (state.labels.get(file.path) || "").trim().toLowerCase() === stem.trim());
  }

  const batch = { items: [] };  // {file, path or null, why, cells}

  function openBatch(files) {
    const taken = new Map();
    batch.items = files.map((file) => {
      const found = soundsNamedBy(file.name);
      let path = null;
      let why = "";
      if (!found.length) why = "no match";
      else if (found.length > 1) why = "more than one sound";
      else if (taken.has(found[0].path)) why = `${found[0].path}, already matched to ${taken.get(found[0].path)}`;
      else {
        path = found[0].path;
        taken.set(path, file.name);
      }
      return { file, path, why, cells: null };
    });
    const body = $("batch-rows");
    body.textContent = "";
    for (const item of batch.items) {
      const row = document.createElement("tr");
      const cells = ["file", "sound", "result"].map((name) => {
        const cell = document.createElement("td");
        cell.className = name;
        row.appendChild(cell);
        return cell;
      });
      cells[0].textContent = item.file.name;
      cells[1].textContent = item.path || item.why;
      if (!item.path) cells[1].classList.add("nomatch");
      row.dataset.matched = item.path ? "1" : "0";
      item.cells = cells;
      body.appendChild(row);
    }
    const matched = batch.items.filter((item) => item.path).length;
    $("batch-status").textContent = `${matched} of ${files.length} files name a sound; Swap all fits each to its sound and swaps it.`;
    $("batch-swap").disabled = !matched;
    delete $("batch-dialog").dataset.done;
    $("batch-dialog").showModal();
  }

  // Each matched file in turn; a refusal is reported on its line and the
  // next one goes on.
  async function swapAll() {
    $("batch-swap").disabled = true;
    let swapped = 0;
    for (const item of batch.items) {
      if (!item.path || state.ended) continue;
      const result = item.cells[2];
      result.textContent = "swapping…";
      try {
        const answer = await run(swapAddress(item.path, item.file, {}), item.file);
        state.changed.add(item.path);
        state.takes.set(item.path, (state.takes.get(item.path) || 0) + 1);
        result.textContent = answer && answer.report ? answer.report : "swapped";
        result.className = "result done";
        swapped++;
      } catch (error) {
        result.textContent = error.message;
        result.className = "result error";
      }
    }
    const tried = batch.items.filter((item) => item.path).length;
    $("batch-status").textContent = `${swapped} of ${tried} matched files swapped.`;
    $("batch-dialog").dataset.done = "1";
    await refreshAfterRun();
  }

  async function undo() {
    const file = currentFile();
    if (!file) return;
    try {
      await run("/api/undo/" + encodedPath(file.path), "");
      state.changed.delete(file.path);
      notice(`${file.path} is the archive's own again.`);
    } catch (error) {
      notice("Undo: " + error.message, true);
    }
    await refreshAfterRun();
  }

  // The pack's own words, as the terminal prints them.
  function describeReport(report) {
    const lines = [];
    for (const a of report.archives) lines.push(...a.warnings, ...a.lines);
    return lines.join("\n") || "Nothing to pack.";
  }

  async function dryRun() {
    const dialog = $("pack-dialog");
    try {
      const report = await run("/api/pack", JSON.stringify({ dry_run: true }));
      $("pack-report").textContent = describeReport(report);
      $("pack-now").disabled = report.archives.every((a) => a.refused);
    } catch (error) {
      $("pack-report").textContent = "The dry run failed: " + error.message;
      $("pack-now").disabled = true;
    }
    dialog.showModal();
  }

  async function packNow() {
    $("pack-now").disabled = true;
    try {
      const report = await run("/api/pack", JSON.stringify({ dry_run: false }));
      $("pack-report").textContent = describeReport(report);
      // The table shows the new archive.
      await loadEntries();
      await loadLabels();
      await loadStatus();
      refilter();
      $("pack-report").dataset.done = "1";
    } catch (error) {
      $("pack-report").textContent = "The pack failed: " + error.message;
    }
    await refreshAfterRun();
  }

  // ---- wiring ----

  function wire() {
    const rows = $("rows");
    rows.addEventListener("scroll", () => requestAnimationFrame(render));
    window.addEventListener("resize", render);
    rows.addEventListener("click", (event) => {
      const row = rowOfEvent(event);
      if (!row) return;
      if (event.target === row.box_) {
        const path = row.dataset.path;
        if (row.box_.checked) state.chosen.add(path);
        else state.chosen.delete(path);
        $("extract-chosen").disabled = !state.chosen.size;
        $("extract-chosen").textContent = state.chosen.size ? `Extract chosen (${state.chosen.size})` : "Extract chosen";
        return;
      }
      if (event.target.closest("input")) return;
      $("table").focus();
      select(Number(row.dataset.position), true);
    });
    rows.addEventListener("dblclick", (event) => {
      const row = rowOfEvent(event);
      if (row && event.target.closest(".label")) startEditing(row);
    });
    $("table").addEventListener("keydown", (event) => {
      if (state.editing || event.target.closest("input")) return;
      const autoplay = $("autoplay").checked;
      if (event.key === "ArrowDown" || event.key === "ArrowUp") {
        event.preventDefault();
        const next = state.selected + (event.key === "ArrowDown" ? 1 : -1);
        select(Math.max(0, Math.min(state.shown.length - 1, state.selected < 0 ? 0 : next)), autoplay);
      } else if (["Home", "End", "PageUp", "PageDown"].includes(event.key) && state.shown.length) {
        event.preventDefault();
        const page = Math.max(1, Math.floor($("rows").clientHeight / ROW_HEIGHT) - 1);
        const from = state.selected < 0 ? 0 : state.selected;
        const next = { Home: 0, End: state.shown.length - 1, PageUp: from - page, PageDown: from + page }[event.key];
        select(Math.max(0, Math.min(state.shown.length - 1, next)), autoplay);
      } else if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        if (currentFile()) {
          const player = $("player");
          if (player.dataset.path === currentFile().path && !player.paused) player.pause();
          else { showDetail(true); }
        }
      } else if (event.key === "F2") {
        event.preventDefault();
        const row = state.pool.find((r) => !r.hidden && Number(r.dataset.position) === state.selected);
        startEditing(row);
      }
    });
    for (const header of document.querySelectorAll(".sortable")) {
      header.addEventListener("click", () => {
        const key = header.dataset.sort;
        state.sort = { key, up: state.sort.key === key ? !state.sort.up : true };
        for (const other of document.querySelectorAll(".sortable")) other.classList.remove("up", "down");
        header.classList.add(state.sort.up ? "up" : "down");
        $("identical").checked = false;
        refilter();
      });
    }
    let filterTimer = null;
    for (const id of ["filter", "kind", "min-seconds", "max-seconds"]) {
      $(id).addEventListener("input", () => {
        clearTimeout(filterTimer);
        filterTimer = setTimeout(refilter, 80);
      });
    }
    $("identical").addEventListener("change", async () => {
      if ($("identical").checked && !state.hashes) {
        try {
          state.hashes = new Map(Object.entries(await api("/api/hashes")));
          hashCounts = null;
        } catch (error) {
          notice("The files' hashes could not be read: " + error.message, true);
          $("identical").checked = false;
        }
      }
      refilter();
    });
    $("choose-all").addEventListener("change", () => {
      for (const index of state.shown) {
        const path = state.files[index].path;
        if ($("choose-all").checked) state.chosen.add(path);
        else state.chosen.delete(path);
      }
      $("extract-chosen").disabled = !state.chosen.size;
      $("extract-chosen").textContent = state.chosen.size ? `Extract chosen (${state.chosen.size})` : "Extract chosen";
      render();
    });
    $("extract-all").addEventListener("click", () => extract(null));
    $("extract-chosen").addEventListener("click", () => extract([...state.chosen]));
    $("export").addEventListener("click", openExport);
    $("export-now").addEventListener("click", exportNow);
    $("export-close").addEventListener("click", () => $("export-dialog").close());
    $("swap-now").addEventListener("click", swapNow);
    $("swap-cancel").addEventListener("click", closeSwap);
    $("swap-dialog").addEventListener("cancel", (event) => {
      event.preventDefault();
      closeSwap();
    });
    for (const id of ["swap-keep-loudness", "swap-fit-length", "swap-as-is"]) {
      $(id).addEventListener("change", previewSwap);
    }
    $("swap-hear-original").addEventListener("click", () => hear("original"));
    $("swap-hear-converted").addEventListener("click", () => hear("converted"));
    $("swap-stop").addEventListener("click", () => {
      $("swap-original").pause();
      $("swap-converted").pause();
      markHearing(null);
    });
    for (const id of ["swap-original", "swap-converted"]) {
      $(id).addEventListener("timeupdate", () => {
        const audio = $(id);
        $("swap-position").textContent = audio.paused ? "" : audio.currentTime.toFixed(2) + " s";
      });
      $(id).addEventListener("ended", () => markHearing(null));
    }
    $("batch-swap").addEventListener("click", swapAll);
    $("batch-cancel").addEventListener("click", () => $("batch-dialog").close());
    $("pack").addEventListener("click", dryRun);
    $("pack-now").addEventListener("click", packNow);
    $("pack-close").addEventListener("click", () => $("pack-dialog").close());
    wireFind();
    $("play-original").addEventListener("click", () => playFrom("archive"));
    $("play-new").addEventListener("click", () => playFrom("output"));
    $("undo").addEventListener("click", undo);
    $("swap-file").addEventListener("change", () => {
      const file = $("swap-file").files[0];
      const current = currentFile();
      $("swap-file").value = "";
      if (file && current) openSwap(current.path, file);
    });
    $("import-labels").addEventListener("change", () => {
      const file = $("import-labels").files[0];
      $("import-labels").value = "";
      if (file) importLabels(file);
    });
    $("quit").addEventListener("click", async () => {
      try {
        await api("/api/quit", { method: "POST" });
      } finally {
        endPage();
      }
    });
    const player = $("player");
    const tick = () => {
      drawCanvases();
      if (!player.paused) requestAnimationFrame(tick);
    };
    player.addEventListener("play", () => requestAnimationFrame(tick));
    player.addEventListener("seeked", drawCanvases);
    player.addEventListener("loadedmetadata", seekIfPending);
    player.addEventListener("canplay", seekIfPending);
    for (const id of ["wave", "spectrogram"]) {
      $(id).addEventListener("click", seekToClick);
      $(id).addEventListener("wheel", (event) => {
        event.preventDefault();
        if (event.deltaY) setZoom(event.deltaY < 0 ? state.zoom * 2 : state.zoom / 2);
      }, { passive: false });
    }
    $("zoom-in").addEventListener("click", () => setZoom(state.zoom * 2));
    $("zoom-out").addEventListener("click", () => setZoom(state.zoom / 2));
    window.addEventListener("resize", drawCanvases);
    // A sound the browser cannot play says so, and why, instead of sitting at 0:00.
    player.addEventListener("error", playerFailed);
    // Dropping: a sound file on a sound's row swaps it (after its dry run);
    // several files anywhere, or one off the rows, are matched to sounds by
    // their names; a labels list anywhere is imported.
    rows.addEventListener("dragover", (event) => {
      event.preventDefault();
      for (const row of state.pool) row.classList.remove("dropping");
      const row = rowOfEvent(event);
      if (row) row.classList.add("dropping");
    });
    rows.addEventListener("dragleave", () => {
      for (const row of state.pool) row.classList.remove("dropping");
    });
    document.addEventListener("dragover", (event) => event.preventDefault());
    document.addEventListener("drop", (event) => {
      event.preventDefault();
      for (const row of state.pool) row.classList.remove("dropping");
      const files = event.dataTransfer.files;
      if (state.ended || !files.length) return;
      if ($("swap-dialog").open || $("batch-dialog").open || !$("run").hidden) return;
      if (files.length > 1) {
        openBatch([...files]);
        return;
      }
      const file = files[0];
      if (/\.(tsv|txt)$/i.test(file.name)) {
        importLabels(file);
        return;
      }
      const row = rowOfEvent(event);
      const target = row && state.byPath.get(row.dataset.path);
      if (!row) {
        openBatch([file]);
        return;
      }
      if (!target || target.kind !== "sound") {
        notice("Drop a sound file on a sound's row to swap it.", true);
        return;
      }
      select(Number(row.dataset.position), false);
      openSwap(target.path, file);
    });
  }

  function wireFind() {
    $("find-open").addEventListener("click", () => toggleFind($("find").hidden));
    $("find-close").addEventListener("click", () => toggleFind(false));
    $("find-file").addEventListener("change", () => {
      const file = $("find-file").files[0];
      $("find-file").value = "";
      if (file) findClip(file, file.name);
    });
    const zone = $("find-drop");
    zone.addEventListener("dragover", (event) => {
      event.preventDefault();
      zone.classList.add("dropping");
    });
    zone.addEventListener("dragleave", () => zone.classList.remove("dropping"));
    // A clip dropped here is searched for, never swapped in.
    zone.addEventListener("drop", (event) => {
      event.preventDefault();
      event.stopPropagation();
      zone.classList.remove("dropping");
      const file = event.dataTransfer.files[0];
      if (file && !state.ended) findClip(file, file.name);
    });
    $("find-record").addEventListener("click", () => (recording.recorder ? stopRecording() : startRecording()));
    $("similar").addEventListener("click", findSimilar);
    $("variations").addEventListener("change", () => {
      // Grouping every sound would need a search per sound: the group is
      // the last "Similar sounds" answer.
      if ($("variations").checked && !state.similar) {
        notice("Choose Similar sounds in a sound's details: that sound and its variations are then shown together.");
      }
      refilter();
    });
    $("similar-clear").addEventListener("click", () => {
      clearSimilar();
      refilter();
    });
  }

  // A control that cannot act is disabled, not silent.
  function setEnabled(control, on) {
    if (control.tagName === "BUTTON") {
      control.disabled = !on;
      return;
    }
    control.classList.toggle("disabled", !on);
    control.setAttribute("aria-disabled", on ? "false" : "true");
    const input = control.querySelector("input");
    if (input) input.disabled = !on;
  }

  // After Quit nothing can act: every control is disabled and the page says why.
  function endPage() {
    state.ended = true;
    document.body.dataset.ended = "1";
    if (polling) clearInterval(polling);
    for (const control of document.querySelectorAll("button, label.button, a.button, input, select")) {
      setEnabled(control, false);
      if (control.tagName === "INPUT" || control.tagName === "SELECT") control.disabled = true;
    }
    $("player").pause();
    notice("The studio has ended: start it again to go on (quorvel-extractor --studio). This page can be closed.");
  }

  async function start() {
    wire();
    setEnabled($("swap-label"), false);
    setEnabled($("download"), false);
    setEnabled($("export-wav"), false);
    setEnabled($("export-flac"), false);
    $("zoom-out").disabled = true;
    $("detail").dataset.zoom = "1";
    try {
      await Promise.all([loadEntries(), loadLabels()]);
      await loadStatus();
      refilter();
      watchIndex();
      $("table").focus();
      window.studioReadyAt = performance.now();
      document.body.dataset.ready = "1";
    } catch (error) {
      notice("The studio could not be reached: " + error.message, true);
    }
  }

  start();
})();
