#!/usr/bin/env bash
# The Windows tests, run by scripts/test-windows.sh inside one X session
# (every Wine program of a prefix must see the same display, or the GUI
# programs get no windows at all). Needs QUORVEL_WINDOWS_BUILD and
# QUORVEL_NATIVE_BUILD.
set -euo pipefail

: "${DISPLAY:?run me through scripts/test-windows.sh, inside an X session}"
build=$QUORVEL_WINDOWS_BUILD
native=$QUORVEL_NATIVE_BUILD
work=$build/gui-tests

export WINEPREFIX=$build/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A Wine server left from a run without a display (ctest, say) would give
# every program here no windows at all.
wineserver -k 2>/dev/null || true

# A prefix of our own, made once (and made here, with the display set): no window manager stalls (Managed=N, which
# also has Wine draw the caption) and Wine's own fonts.
if [[ ! -f $WINEPREFIX/.quorvel-ready ]]; then
    echo "Making a Wine prefix in $WINEPREFIX (once, about 15 s)"
    wineboot --init >/dev/null 2>&1
    wineserver -w
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w
    touch "$WINEPREFIX/.quorvel-ready"
fi

# One Wine server for the whole session: each program then starts in a
# fraction of the time.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

windows_path() {  # Wine's drive Z: is the Unix root
    local path=${1//\//\\}
    echo "Z:$path"
}

# unit_tests NAME EXE: a GoogleTest program under Wine, its summary shown.
unit_tests() {
    local name=$1 log="$work/$1.log"
    echo "== $name under Wine"
    local status=0
    timeout 300 wine "$2" >"$log" 2>&1 || status=$?
    if ((status == 0)); then
        tr -d '\r' <"$log" | grep -E '^\[  (PASSED|SKIPPED) \]' || true
        pass "$name"
    else
        # A crash loses what the program had not flushed: show the status and whatever there is.
        echo "exit status $status; the end of its output:"
        tr -d '\r' <"$log" | grep -E -B 5 -A 5 'Failure|FAILED' | head -n 60 || true
        tr -d '\r' <"$log" | tail -n 20
        fail "$name"
    fi
}

rm -rf "$work"
mkdir -p "$work"

for core in progress extract app; do
    unit_tests "quorvel_${core}_tests" "$build/$core/quorvel_${core}_tests.exe"
done
unit_tests quorvel_win32_tests "$build/windows/tests/quorvel_win32_tests.exe"
unit_tests quorvel_terminal_tests "$build/terminal/quorvel_terminal_tests.exe"
if [[ -x $build/studio/tests/quorvel_studio_tests.exe ]]; then
    unit_tests quorvel_studio_tests "$build/studio/tests/quorvel_studio_tests.exe"
fi
unit_tests quorvel_audio_tests "$build/audio/quorvel_audio_tests.exe"

# The sound libraries built for Windows against Debian's on Linux: a sound of
# each encoding, made by the Linux build, decodes to the same frames and
# samples under Wine. Vorbis alone may differ, by rounding in its float
# transform (a tiny part of one step at 16 bits), so up to one step is let
# through there; everything else must be the same bits.
windows_sound_check=$build/audio/quorvel-sound-check.exe
native_sound_check=$native/audio/quorvel-sound-check
sounds=$work/sounds
echo "== the same decodes under Wine as on Linux"
if "$native_sound_check" make "$sounds" >"$work/sounds.log"; then
    for sound in "$sounds"/*.*; do
        name=$(basename "$sound")
        steps=0
        [[ $name == *.ogg ]] && steps=1
        if ! linux=$("$native_sound_check" decode "$sound" "$work/$name.linux.f32" 2>&1); then
            fail "$name on Linux: $linux"
        elif ! windows=$(timeout 60 wine "$windows_sound_check" decode "$(windows_path "$sound")" \
            "$(windows_path "$work/$name.windows.f32")" 2>&1 | tr -d '\r'); then
            fail "$name under Wine: $windows"
        elif [[ $linux != "$windows" ]]; then
            fail "$name: Linux says \"$linux\", Windows \"$windows\""
        elif compared=$("$native_sound_check" compare "$work/$name.linux.f32" "$work/$name.windows.f32" "$steps"); then
            pass "$name: $linux; $compared"
        else
            fail "$name: $linux, but $compared"
        fi
    done
else
    cat "$work/sounds.log"
    fail "the test sounds could not be made"
fi

exe=$(windows_path "$build/windows/quorvel-extractor.exe")
driver=$build/windows/tests/quorvel-gui-driver.exe

# The manifest Windows reads at start: run as the invoker (no virtualised
# writes), nothing that changes the window.
cli=$build/terminal/quorvel-extractor-cli.exe
manifest_exes=("$exe" "$(windows_path "$cli")")
if [[ -n ${QUORVEL_PACKAGED_EXE:-} ]]; then
    manifest_exes+=("$(windows_path "$QUORVEL_PACKAGED_EXE")" "$(windows_path "$QUORVEL_PACKAGED_CLI")")
fi
for manifest_exe in "${manifest_exes[@]}"; do
    echo "== the manifest of $manifest_exe"
    if timeout 120 wine "$driver" --check-manifest "$manifest_exe" 2>&1 | tr -d '\r' >"$work/manifest.log"; then
        pass "the exe's manifest: asInvoker, no DPI awareness, no other common controls"
    else
        cat "$work/manifest.log"
        fail "the exe's manifest"
    fi
done

# The game folders, from the generator. "big" ends each archive with a 96 MiB
# block of zeros after a few hundred small files, so that a run lasts long
# enough to be watched, photographed and stopped in the middle of a file.
"$native/tools/sample_game/quorvel-make-sample" --profile sample --seed 3 "$work/sample" >/dev/null
"$native/tools/sample_game/quorvel-make-sample" \
    --sfx 'repeat 100 { block wav(30K) "xy"; block "AVQF" noise(2K) }; block "DATA" bytes(96M, 0); final' \
    --speech 'repeat 20 { block wav(20K) }; block "DATA" bytes(96M, 0); final' "$work/big" >/dev/null
# A truncated archive: the sample's sfx.pak without its last 1000 bytes.
mkdir -p "$work/truncated"
head -c -1000 "$work/sample/sfx.pak" >"$work/truncated/sfx.pak"
# No sfx.pak at all; no speech.pak at all.
mkdir -p "$work/no-sfx" "$work/no-speech-no" "$work/no-speech-yes"
cp "$work/sample/speech.pak" "$work/no-sfx/"
cp "$work/sample/sfx.pak" "$work/no-speech-no/"
cp "$work/sample/sfx.pak" "$work/no-speech-yes/"

# reference FOLDER ANSWER: the terminal program's output on a copy of FOLDER.
reference() {
    local folder=$1 answer=$2 copy
    copy="$work/reference-$(basename "$1")-$2"
    mkdir -p "$copy"
    cp "$folder"/*.pak "$copy/"
    (cd "$copy" && "$native/terminal/quorvel-extractor" "-${answer:0:1}" >/dev/null 2>&1) || true
    echo "$copy"
}

# same_output GOT WANT: the same folders "sfx" and "speech", byte for byte.
same_output() {
    local got=$1 want=$2 name
    for name in sfx speech; do
        if [[ -d $want/$name ]]; then
            diff -r "$want/$name" "$got/$name" >/dev/null || return 1
        elif [[ -e $got/$name ]]; then
            return 1
        fi
    done
}

# gui NAME FOLDER DRIVER-ARGUMENTS...: one run of the program under the driver.
gui() {
    local name=$1 folder=$2
    shift 2
    echo "== GUI: $name"
    if timeout 300 wine "$driver" --exe "$exe" --folder "$(windows_path "$folder")" "$@" 2>&1 | tr -d '\r' \
        >"$work/$name.log"; then
        grep -v '^ok: ' "$work/$name.log" || true
        return 0
    fi
    cat "$work/$name.log"
    return 1
}

# photograph JOB FLAG DONE PNG: once the driver (background job JOB) has
# created FLAG, holding still what it shows and naming its rectangle, cuts
# that rectangle out of a screenshot into PNG, then creates DONE to let the
# driver go on. It waits for the flag for as long as the driver runs (the
# driver has its own limits), so no length of wait decides the outcome.
photograph() {
    local job=$1 flag=$2 done=$3 png=$4
    while [[ ! -s $flag ]] && kill -0 "$job" 2>/dev/null; do
        sleep 0.1  # how often to look, not how long: the wait ends with the flag or the driver
    done
    if [[ -s $flag ]]; then
        # A failure here must still let the driver go on: usable_picture reports it.
        /usr/bin/import -window root "$png.screen.png" &&
            /usr/bin/convert "$png.screen.png" -crop "$(tr -d '\r\n' <"$flag")" +repage "$png" ||
            echo "the screenshot could not be taken"
    fi
    touch "$done"
}

usable_picture() {  # WHAT PNG
    local colours
    colours=$(/usr/bin/convert "$2" -format %k info: 2>/dev/null || echo 0)
    if ((colours > 8)); then
        pass "screenshot of $1: $2 ($colours colours)"
    else
        fail "no usable screenshot of $1"
    fi
}

compare_with_terminal() {  # NAME FOLDER ANSWER
    local want
    want=$(reference "$2" "$3")
    if same_output "$2" "$want"; then
        pass "$1: the same files, byte for byte, as the terminal program's"
    else
        fail "$1: the output differs from the terminal program's"
        diff -r "$want" "$2" | head -n 20 || true
    fi
}

# The driver itself: a program that ends without any window (here a test
# program, which exits 0) must fail the GUI test, never pass it silently.
echo "== GUI: a program with no question box"
if timeout 120 wine "$driver" --exe "$(windows_path "$build/windows/tests/quorvel_win32_tests.exe")" \
    --folder "$(windows_path "$work/sample")" --answer yes --expect-exit 0 2>&1 | tr -d '\r' >"$work/no-window.log"; then
    fail "the driver passed a program that showed no question box"
elif grep -q "the question box never appeared" "$work/no-window.log"; then
    pass "the driver fails a program that shows no question box"
else
    fail "the driver failed a program with no question box for another reason"
    cat "$work/no-window.log"
fi

for answer in yes no; do
    folder=$work/sample-$answer
    cp -r "$work/sample" "$folder"
    if gui "sample-$answer" "$folder" --answer "$answer" --expect-exit 0; then
        pass "sample, answer $answer: question, window, bar and exit code 0"
        compare_with_terminal "sample, answer $answer" "$folder" "$answer"
    else
        fail "sample, answer $answer"
    fi
done

# Started where there is no sfx.pak, the program asks for the game's folder
# first; Cancel runs it where it was started, and it fails there as ever.
if gui "missing-sfx" "$work/no-sfx" --game-picker cancel --answer yes --expect-exit 1 --min-readings 0 \
    --expect-box "Error 2:" --expect-box "sfx.pak"; then
    if [[ -e $work/no-sfx/sfx || -e $work/no-sfx/speech ]]; then
        fail "missing sfx.pak: output folders were created"
    else
        pass "missing sfx.pak, the game folder picker cancelled: error box with number, description and file;" \
            "exit code 1; nothing written"
    fi
else
    fail "missing sfx.pak, the game folder picker cancelled"
fi

# Started elsewhere: the game folder picker is asked again after a folder
# without sfx.pak (the one it was started in), then shown the game. The
# last picker is photographed, the game's folder typed in.
mkdir -p "$work/elsewhere"
folder=$work/picked-game
cp -r "$work/sample" "$folder"
rm -f "$work/picker-up" "$work/picker-photographed"
gui "game-picker" "$work/elsewhere" --game-picker "$(windows_path "$work/elsewhere")" \
    --game-picker "$(windows_path "$folder")" --photograph-picker "$(windows_path "$work/picker-up")" \
    --picker-photographed "$(windows_path "$work/picker-photographed")" --answer yes --expect-exit 0 &
driver_job=$!
photograph "$driver_job" "$work/picker-up" "$work/picker-photographed" "$work/windows-picker.png"
if wait "$driver_job"; then
    if [[ -n $(ls -A "$work/elsewhere") ]]; then
        fail "game folder picker: something was written where the program was started"
    else
        pass "game folder picker: asked again after a folder without sfx.pak, then the game extracted, exit code 0"
    fi
    compare_with_terminal "game folder picker" "$folder" yes
else
    fail "game folder picker"
fi
usable_picture "the game folder picker" "$work/windows-picker.png"

# Both sizes are taken before anything is written: a missing speech.pak
# stops a Yes run before sfx is extracted, and a No run never opens it.
if gui "missing-speech-yes" "$work/no-speech-yes" --answer yes --expect-exit 1 --min-readings 0 \
    --expect-box "Error 2:" --expect-box "speech.pak"; then
    if [[ -e $work/no-speech-yes/sfx ]]; then
        fail "missing speech.pak, answer yes: sfx was extracted before the failure"
    else
        pass "missing speech.pak, answer yes: error box before anything was written, exit code 1"
    fi
else
    fail "missing speech.pak, answer yes"
fi
if gui "missing-speech-no" "$work/no-speech-no" --answer no --expect-exit 0; then
    pass "missing speech.pak, answer no: not needed, exit code 0"
    compare_with_terminal "missing speech.pak, answer no" "$work/no-speech-no" no
else
    fail "missing speech.pak, answer no"
fi

if gui "truncated" "$work/truncated" --answer no --expect-exit 3 --expect-box "truncated"; then
    pass "truncated sfx.pak: warning box after the work, exit code 3"
    compare_with_terminal "truncated sfx.pak" "$work/truncated" no
else
    fail "truncated sfx.pak"
fi

# A file named sfx where the folder belongs: a box explains, naming the
# failure, and the output folder picker comes up; on Cancel the error box
# names the folder.
mkdir -p "$work/sfx-in-the-way"
cp "$work/sample"/*.pak "$work/sfx-in-the-way/"
echo "not a folder" >"$work/sfx-in-the-way/sfx"
if gui "sfx-in-the-way" "$work/sfx-in-the-way" --answer no --expect-exit 1 --min-readings 0 \
    --expect-box "Error 183:" --expect-box "Folder: sfx" --output-picker cancel \
    --expect-box "Error 183:" --expect-box "Folder: sfx"; then
    pass "a file in the way of the folder sfx, the output folder picker cancelled: error box naming the folder," \
        "exit code 1"
else
    fail "a file in the way of the folder sfx, the output folder picker cancelled"
fi

# The same, the output folder chosen: first one with a file named sfx in
# the way too (explained and asked again), then a good one, which receives
# both archives' folders; nothing is written into the game's folder.
folder=$work/blocked-game
mkdir -p "$folder" "$work/blocked-output" "$work/chosen-output"
cp "$work/sample"/*.pak "$folder/"
echo "not a folder" >"$folder/sfx"
echo "not a folder" >"$work/blocked-output/sfx"
if gui "output-picker" "$folder" --answer yes --expect-exit 0 \
    --expect-box "the game's folder" --expect-box "Error 183:" --expect-box "Folder: sfx" \
    --output-picker "$(windows_path "$work/blocked-output")" \
    --expect-box "the folder you chose" --expect-box "Error 183:" --expect-box "blocked-output\\sfx" \
    --output-picker "$(windows_path "$work/chosen-output")"; then
    want=$(reference "$folder" yes)
    if [[ $(ls "$folder") != $'sfx\nsfx.pak\nspeech.pak' || $(cat "$folder/sfx") != "not a folder" ]]; then
        fail "output folder picker: the game's folder changed"
    elif [[ $(ls "$work/blocked-output") != sfx ]]; then
        fail "output folder picker: something was written into the blocked folder chosen first"
    elif ! same_output "$work/chosen-output" "$want"; then
        fail "output folder picker: the chosen folder's output differs from the terminal program's"
    else
        pass "output folder picker: explained, asked again, sfx and speech in the chosen folder, the same files," \
            "byte for byte, as the terminal program's, exit code 0"
    fi
else
    fail "output folder picker"
fi

# A truncated sfx.pak is still reported when the run then fails on speech
# (the output folder picker cancelled).
mkdir -p "$work/truncated-then-failed"
cp "$work/truncated/sfx.pak" "$work/sample/speech.pak" "$work/truncated-then-failed/"
echo "not a folder" >"$work/truncated-then-failed/speech"
if gui "truncated-then-failed" "$work/truncated-then-failed" --answer yes --expect-exit 1 \
    --expect-box "Folder: speech" --output-picker cancel \
    --expect-box "Folder: speech" --then-box "sfx.pak is truncated"; then
    pass "truncated sfx.pak, then a failure: the explanation, the picker cancelled, the error box, then the" \
        "truncation, exit code 1"
else
    fail "truncated sfx.pak, then a failure"
fi

# The console program against the terminal program: each case runs both,
# with the same arguments, each in its own copy of a game folder, and wants
# the same exit status, the same stdout, the same stderr and the same folder
# afterwards, byte for byte. Windows writes text with CRLF line ends, which
# are taken off; the operating system's description of an error is its own
# ("File not found." for "No such file or directory"), so it is masked, and
# the error number must still agree. A case is "FOLDER|ARGUMENTS"; a case
# whose run changes an archive (packing, say) is compared the same way, as
# the whole folder is.
# A game extracted by the terminal program, and the same with one sound
# replaced by another of another size: the material of a pack.
mkdir -p "$work/extracted"
cp "$work/sample/sfx.pak" "$work/sample/speech.pak" "$work/extracted/"
(cd "$work/extracted" && "$native/terminal/quorvel-extractor" -y -q)
cp -r "$work/extracted" "$work/edited"
sounds=("$work/edited/sfx/"*.wav)
cp "${sounds[1]}" "${sounds[0]}"
# A sound's own bytes offered as its replacement: with --keep-loudness it
# goes in byte for byte, through every step of a replacement.
cp -r "$work/extracted" "$work/replacing"
cp "$work/replacing/sfx/sfx_0001.wav" "$work/replacing/new.wav"
# A whole sound as the clip: found at 0.000, with the index file written
# beside the archives.
cp -r "$work/extracted" "$work/finding"
cp "$work/finding/sfx/sfx_0004.wav" "$work/finding/clip.wav"

cli_cases=(
    "extracted|--pack"
    "edited|--pack"
    "edited|--pack --dry-run"
    "sample|-y"
    "sample|-n -q"
    "sample|-n -q -C . -o made/with/parents"
    "sample|-y -C nowhere"
    "sample|-l"
    "sample|-l --json"
    "truncated|-n"
    "no-sfx|-y"
    "no-speech-yes|-l"
    "sample|--version"
    "sample|-n --output"
    "sample|-yq sfx:1-3 speech/*_000? *.AVQF nothing"
    "sample|-nqk -v -Cnowhere"
    "sample|-l --json sfx_000?.wav speech:2-"
    "sample|-O"
    "sample|--frobnicate"
    "sample|--export flac -y -q"
    "replacing|--replace sfx:1 new.wav --keep-loudness"
    "replacing|--replace sfx:1 missing.mp3"
    "finding|--find clip.wav -y -q"
)

mask_error_text() {
    tr -d '\r' | sed -E 's/^(quorvel-extractor: [^:]*): .* \(error ([0-9]+)\)( \(.*\))?$/\1: (as the system words it) (error \2)\3/'
}

# The console program names the files a user opens with Windows' separator
# (sfx\sfx_0001.wav); listed paths (sfx/sfx_0001.wav) are the same on
# every system. Compared as the terminal program writes them.
with_slashes() {
    tr -d '\r' | sed -E 's#([A-Za-z0-9_.-])\\([A-Za-z0-9_.-])#\1/\2#g'
}

# same_as_terminal FOLDER ARGUMENTS: one case; says what differs.
same_as_terminal() {
    local folder=$1 arguments=$2 status_linux=0 status_windows=0 linux windows
    local -a words
    read -r -a words <<<"$arguments"
    linux=$work/cli-linux-$(basename "$folder")
    windows=$work/cli-windows-$(basename "$folder")
    rm -rf "$linux" "$windows"
    cp -r "$folder" "$linux"
    cp -r "$folder" "$windows"
    (cd "$linux" && "$native/terminal/quorvel-extractor" "${words[@]}" >../cli-linux.out 2>../cli-linux.err) ||
        status_linux=$?
    (cd "$windows" && timeout 120 wine "$cli" "${words[@]}" >../cli-windows.out 2>../cli-windows.err) ||
        status_windows=$?
    if ((status_linux != status_windows)); then
        echo "exit status $status_windows, the terminal program's $status_linux"
    elif ! diff <(tr -d '\r' <"$work/cli-linux.out") <(with_slashes <"$work/cli-windows.out"); then
        echo "the stdout above differs from the terminal program's"
    elif ! diff <(mask_error_text <"$work/cli-linux.err") <(with_slashes <"$work/cli-windows.err" | mask_error_text); then
        echo "the stderr above differs from the terminal program's"
    elif ! diff -r "$linux" "$windows"; then
        echo "the folder afterwards differs from the terminal program's"
    else
        echo "exit status $status_windows"
        return 0
    fi
    return 1
}

for cli_case in "${cli_cases[@]}"; do
    folder=$work/${cli_case%%|*}
    arguments=${cli_case#*|}
    echo "== console: quorvel-extractor-cli.exe $arguments in $(basename "$folder")"
    if outcome=$(same_as_terminal "$folder" "$arguments"); then
        pass "console, $arguments in $(basename "$folder"): as the terminal program, $outcome"
    else
        echo "$outcome"
        fail "console, $arguments in $(basename "$folder")"
    fi
done

# -O: the chosen files' bytes on standard output exactly, with no line end
# made into another.
echo "== console: -O sfx:1-9 speech:1 in sample"
if (cd "$work/sample" && wine "$cli" -O sfx:1-9 speech:1 >"$work/o-windows.bin" 2>/dev/null) &&
    (cd "$work/sample" && "$native/terminal/quorvel-extractor" -O sfx:1-9 speech:1 >"$work/o-linux.bin") &&
    cmp "$work/o-linux.bin" "$work/o-windows.bin"; then
    pass "console, -O: the same bytes as the terminal program's, byte for byte"
else
    fail "console, -O: other bytes than the terminal program's"
fi

# The console program from the zip, as a user gets it.
if [[ -n ${QUORVEL_PACKAGED_CLI:-} ]]; then
    echo "== console: the quorvel-extractor-cli.exe from the zip, -y in sample"
    if outcome=$(cli=$QUORVEL_PACKAGED_CLI same_as_terminal "$work/sample" "-y"); then
        pass "console, the exe from the zip: as the terminal program, $outcome"
    else
        echo "$outcome"
        fail "console, the exe from the zip"
    fi
fi

# A folder named on the command line in another script arrives whole: the
# wide command line is read, not the narrow one in the ANSI code page.
game="$work/cli-παιχνίδι game"
rm -rf "$game"
cp -r "$work/sample" "$game"
want=$(reference "$work/sample" no)
if LC_ALL=C.UTF-8 timeout 120 wine "$cli" -n -q -C "$(windows_path "$game")" -o "$(windows_path "$game/Звуки")" \
    >"$work/cli-unicode.log" 2>&1 && same_output "$game/Звуки" "$want"; then
    pass "console, -C and -o with letters outside the ANSI code page: the folders named, the same files"
else
    tr -d '\r' <"$work/cli-unicode.log"
    fail "console, -C and -o with letters outside the ANSI code page"
fi

# The console program's studio answers the same interface as the Linux
# program's, checked from the Linux side (Wine's sockets are the host's).
if [[ -f $QUORVEL_ROOT/studio/tests/wine_studio_check.py ]]; then
    echo "== console: quorvel-extractor-cli.exe --studio in a copy of sample"
    rm -rf "$work/studio-game"
    cp -r "$work/sample" "$work/studio-game"
    launcher=()
    if [[ -n ${QUORVEL_PACKAGED_CLI:-} ]]; then
        launcher=("$(dirname "$QUORVEL_PACKAGED_CLI")/Quorvel Studio.cmd")
    fi
    if /usr/bin/python3 "$QUORVEL_ROOT/studio/tests/wine_studio_check.py" "$cli" "$native/terminal/quorvel-extractor" \
        "$work/studio-game" "${launcher[@]}" >"$work/studio.log" 2>&1; then
        grep -v '^ok: ' "$work/studio.log" || true
        pass "console, --studio: the same entries, bytes, range and peaks as the Linux program's; a swap, its" \
            "undo and a pack; token refused; Quit"
    else
        cat "$work/studio.log"
        fail "console, --studio"
    fi
fi

# The exe from the zip, unpacked into a fresh folder, as a user runs it.
if [[ -n ${QUORVEL_PACKAGED_EXE:-} ]]; then
    folder=$work/sample-packaged
    cp -r "$work/sample" "$folder"
    if gui "sample-packaged" "$folder" --answer yes --expect-exit 0 \
        --exe "$(windows_path "$QUORVEL_PACKAGED_EXE")"; then
        pass "the exe from the zip: question, window, bar and exit code 0"
        compare_with_terminal "the exe from the zip" "$folder" yes
    else
        fail "the exe from the zip"
    fi
fi

# Mid-run: the driver freezes the program once the bar shows 40% and says so
# by creating "held" (holding the window's rectangle); the window is
# photographed then, and "photographed" lets the run go on to the end.
folder=$work/big-yes
cp -r "$work/big" "$folder"
rm -f "$work/held" "$work/photographed"
gui "big-yes" "$folder" --answer yes --expect-exit 0 --min-readings 10 --pause-at 40 \
    --pause-flag "$(windows_path "$work/held")" --resume-flag "$(windows_path "$work/photographed")" &
driver_job=$!
photograph "$driver_job" "$work/held" "$work/photographed" "$work/windows-window.png"
if wait "$driver_job"; then
    pass "big game, answer yes: watched and held mid-run, exit code 0"
    compare_with_terminal "big game, answer yes" "$folder" yes
else
    fail "big game, answer yes"
fi
usable_picture "the window mid-run" "$work/windows-window.png"

# The close box, clicked in the middle of the big block (the driver freezes
# the program once the bar shows 50%, clicks, and lets it go on): the program
# stops with exit code 2, the big file being written is removed, and every
# file finished before it is intact.
folder=$work/big-close
cp -r "$work/big" "$folder"
if gui "big-close" "$folder" --answer no --expect-exit 2 --close-at 50; then
    want=$(reference "$work/big" no)
    big_file=$(find "$want/sfx" -type f -size +90M -printf '%f\n')
    if [[ -e $folder/sfx/$big_file ]]; then
        fail "close box: the unfinished $big_file was left behind"
    elif [[ -e $folder/speech ]]; then
        fail "close box: speech was extracted after all"
    elif ! diff -r -x "$big_file" "$want/sfx" "$folder/sfx" >/dev/null; then
        fail "close box: the files finished before the click differ from the terminal program's"
    else
        pass "close box: exit code 2, $big_file removed, the $(find "$folder/sfx" -type f | wc -l) finished files intact"
    fi
else
    fail "close box"
fi

# The close box after a truncated sfx.pak, in speech's big block: the run
# stops with exit code 2, and the truncation is still told.
folder=$work/truncated-then-closed
mkdir -p "$folder"
cp "$work/truncated/sfx.pak" "$work/big/speech.pak" "$folder/"
if gui "truncated-then-closed" "$folder" --answer yes --expect-exit 2 --close-at 50 \
    --expect-box "sfx.pak is truncated"; then
    pass "truncated sfx.pak, then the close box: exit code 2, then the truncation"
else
    fail "truncated sfx.pak, then the close box"
fi

echo
if ((failures > 0)); then
    echo "test-windows: $failures FAILED"
    exit 1
fi
# The big game folders take about 1 GB; kept above for a look after a failure.
rm -rf "$work/big" "$work/big-yes" "$work/big-close" "$work/truncated-then-closed" "$work"/reference-big-*
echo "test-windows: all passed"
