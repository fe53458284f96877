#!/usr/bin/env bash
# The terminal program as a user runs it: one behaviour per case, each
# checking the exit status, what stderr says and which files exist.
#
# Usage: cli_test.sh TOOL CASE [GENERATOR]
# GENERATOR is quorvel-make-sample, for the cases over generated games.
set -u

tool=$1
case_name=$2
generator=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
    echo "FAIL [$case_name]: $*" >&2
    exit 1
}

expect_status() {
    [ "$1" -eq "$2" ] || fail "exit status $1, expected $2; stderr was: $(cat stderr 2>/dev/null)"
}

expect_file() {  # path, expected content (printf format)
    [ -f "$1" ] || fail "$1 is missing"
    printf "$2" | cmp -s - "$1" || fail "$1 holds $(od -c "$1" | head -3)"
}

expect_stderr() {  # exact text (printf format)
    printf "$1" | cmp -s - stderr || fail "stderr was: $(cat stderr)"
}

expect_stderr_has() {
    grep -qF -- "$1" stderr || fail "stderr lacks '$1'; it was: $(cat stderr)"
}

# sfx.pak: a tagged block, an empty block, a RIFF block with a 12-byte
# sound, 2 stray bytes and another sound, then the final field.
# speech.pak: one sound.
make_game() {
    printf '\014\000\000\000AVQF1234' >sfx.pak
    printf '\004\000\000\000' >>sfx.pak
    printf '\036\000\000\000RIFF\004\000\000\000WAVExyRIFF\004\000\000\000WAVE' >>sfx.pak
    printf '\000\000\000\000' >>sfx.pak
    printf '\024\000\000\000RIFF\010\000\000\000WAVEdata\000\000\000\000' >speech.pak
}

expect_game_sfx() {
    expect_file sfx/sfx_0001.AVQF 'AVQF1234'
    expect_file sfx/sfx_0002 ''
    expect_file sfx/sfx_0003.wav 'RIFF\004\000\000\000WAVE'
    expect_file sfx/sfx_0004 'xy'
    expect_file sfx/sfx_0005.wav 'RIFF\004\000\000\000WAVE'
    [ "$(ls sfx | wc -l)" -eq 5 ] || fail "sfx holds $(ls sfx)"
}

expect_game_speech() {
    expect_file speech/speech_0001.wav 'RIFF\010\000\000\000WAVEdata'
    [ "$(ls speech | wc -l)" -eq 1 ] || fail "speech holds $(ls speech)"
}

# A generated game in the current folder, and in expected/ the files a
# correct extraction gives, stated by the generator from what it generated.
make_generated_game() {  # profile, seed
    [ -x "$generator" ] || fail "no generator given"
    "$generator" --profile "$1" --seed "$2" --expect expected . >generator.txt 2>&1 ||
        fail "the generator failed: $(cat generator.txt)"
}

expect_expected_files() {  # folder
    diff -r "expected/$1" "$1" >diff.txt || fail "$1 differs from expected/$1: $(head -20 diff.txt)"
}

prompt='Also extract speech files? [Y/n] '
both_lines="Quorvel Extractor\nExtracting: sfx\nExtracting: speech\n"

case "$case_name" in
yes_on_stdin_extracts_both_archives)
    make_game
    printf 'y\n' | "$tool" 2>stderr; expect_status $? 0
    expect_stderr "$prompt$both_lines"
    expect_game_sfx
    expect_game_speech
    ;;
empty_line_or_end_of_input_means_yes)
    make_game
    printf '\n' | "$tool" 2>stderr; expect_status $? 0
    expect_game_speech
    rm -r speech
    "$tool" </dev/null 2>stderr; expect_status $? 0
    expect_stderr "$prompt\n$both_lines"
    expect_game_speech
    ;;
no_extracts_only_sfx_and_never_needs_speech)
    make_game
    rm speech.pak
    printf 'n\n' | "$tool" 2>stderr; expect_status $? 0
    expect_stderr "${prompt}Quorvel Extractor\nExtracting: sfx\n"
    expect_game_sfx
    [ ! -e speech ] || fail "speech was created"
    ;;
unclear_answer_is_asked_again)
    make_game
    printf 'perhaps\nNO\n' | "$tool" 2>stderr; expect_status $? 0
    expect_stderr "${prompt}Please answer y or n.\n${prompt}Quorvel Extractor\nExtracting: sfx\n"
    ;;
options_answer_the_question)
    make_game
    "$tool" -n </dev/null 2>stderr; expect_status $? 0
    expect_stderr "Quorvel Extractor\nExtracting: sfx\n"
    [ ! -e speech ] || fail "-n extracted speech"
    "$tool" --yes </dev/null 2>stderr; expect_status $? 0
    expect_stderr "$both_lines"
    expect_game_speech
    ;;
help_version_and_unknown_options)
    "$tool" --help >stdout 2>stderr; expect_status $? 0
    grep -q '^Usage: quorvel-extractor' stdout || fail "no usage in --help"
    "$tool" --version >stdout 2>stderr; expect_status $? 0
    grep -Eq '^quorvel-extractor [0-9]+\.[0-9]+\.[0-9]+$' stdout || fail "--version printed $(cat stdout)"
    "$tool" --frobnicate </dev/null >stdout 2>stderr; expect_status $? 2
    expect_stderr_has "unknown argument '--frobnicate'"
    ;;
rerun_truncates_and_rewrites_every_file)
    make_game
    "$tool" -y </dev/null 2>stderr; expect_status $? 0
    printf 'longer than before, to be truncated' >sfx/sfx_0004
    "$tool" -y </dev/null 2>stderr; expect_status $? 0
    expect_game_sfx
    expect_game_speech
    ;;
missing_sfx_is_reported_before_anything_is_made)
    "$tool" -n </dev/null 2>stderr; expect_status $? 1
    expect_stderr_has "Error 2: No such file or directory"
    expect_stderr_has "File: sfx.pak"
    [ ! -e sfx ] || fail "sfx was created"
    ;;
missing_speech_with_yes_fails_before_sfx_is_touched)
    make_game
    rm speech.pak
    "$tool" -y </dev/null 2>stderr; expect_status $? 1
    expect_stderr_has "File: speech.pak"
    [ ! -e sfx ] || fail "sfx was created"
    ;;
file_in_the_way_of_the_folder_is_reported_with_the_first_output)
    make_game
    printf 'not a folder' >sfx
    "$tool" -n </dev/null 2>stderr; expect_status $? 1
    expect_stderr_has "File: sfx/sfx_0001.AVQF"
    expect_stderr_has "Error 20: Not a directory"
    ;;
truncated_archive_is_extracted_then_reported)
    make_game
    printf '\014\000\000\000AVQF1234\100\000\000\000AVQFpart' >sfx.pak
    "$tool" -y </dev/null 2>stderr; expect_status $? 3
    expect_file sfx/sfx_0001.AVQF 'AVQF1234'
    expect_file sfx/sfx_0002.AVQF 'AVQFpart'
    expect_game_speech
    expect_stderr_has "warning: sfx.pak is truncated: the block at offset 12 is missing 52 bytes"
    ;;
truncation_is_reported_after_a_later_failure)
    make_game
    printf '\014\000\000\000AVQF1234\100\000\000\000AVQFpart' >sfx.pak
    printf 'not a folder' >speech
    "$tool" -y </dev/null 2>stderr; expect_status $? 1
    expect_file sfx/sfx_0002.AVQF 'AVQFpart'
    expect_stderr "${both_lines}quorvel-extractor: Error 20: Not a directory\nFile: speech/speech_0001.wav\n\
quorvel-extractor: warning: sfx.pak is truncated: the block at offset 12 is missing 52 bytes at the end of the \
archive; what it holds was extracted.\n"
    ;;
bar_is_drawn_in_place_on_a_terminal)
    make_game
    # script(1) gives the program a terminal; its output is the terminal's.
    script -qec "\"$tool\" -y" /dev/null </dev/null >terminal.txt 2>&1; expect_status $? 0
    grep -qF $'\r[' terminal.txt || fail "no bar drawn: $(od -c terminal.txt | head)"
    grep -qF '%' terminal.txt || fail "no percentage: $(cat terminal.txt)"
    expect_game_speech
    ;;
sample_game_yes_on_stdin_matches_the_expected_files)
    make_generated_game sample 1
    printf 'y\n' | "$tool" 2>stderr; expect_status $? 0
    expect_stderr "$prompt$both_lines"
    expect_expected_files sfx
    expect_expected_files speech
    ;;
sample_game_no_on_stdin_matches_the_expected_sfx_only)
    make_generated_game sample 2
    printf 'n\n' | "$tool" 2>stderr; expect_status $? 0
    expect_expected_files sfx
    [ ! -e speech ] || fail "speech was created"
    ;;
tiny_games_of_several_seeds_match_the_expected_files)
    for seed in 1 2 3 4 5; do
        mkdir "seed$seed" && cd "seed$seed" || fail "cannot make a folder for seed $seed"
        make_generated_game tiny "$seed"
        "$tool" -y </dev/null 2>stderr; expect_status $? 0
        expect_expected_files sfx
        expect_expected_files speech
        cd ..
    done
    ;;
sample_game_rerun_gives_the_expected_files_again)
    make_generated_game sample 3
    "$tool" -y </dev/null 2>stderr; expect_status $? 0
    # Spoil the first run's files: the rerun must truncate and rewrite them all.
    printf 'left over' >>sfx/sfx_0001.wav
    : >speech/speech_0001.wav
    "$tool" -y </dev/null 2>stderr; expect_status $? 0
    expect_expected_files sfx
    expect_expected_files speech
    ;;
*)
    fail "no such case"
    ;;
esac
echo "ok [$case_name]"
