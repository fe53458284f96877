#!/usr/bin/env bash
# Runs one command-line case of the terminal program and checks it.
#
# Usage: run_case.sh CASE TOOL GENERATOR
#   CASE       cases/NAME.sh
#   TOOL       quorvel-extractor
#   GENERATOR  quorvel-make-sample
#
# A case is cases/NAME.sh, one behaviour, with its expectations beside it:
#   NAME.exit            the exit status of each `run`, one number a line
#   NAME.stderr          the exact stderr of all the case's `run`s, or
#   NAME.stderr.pattern  where it depends on time (the bar on a terminal):
#                        one extended regular expression per line of stderr,
#                        matching the whole line; control characters are
#                        matched as `cat -v` shows them (a carriage return
#                        is ^M, written \^M).
# The runner sources the case in a fresh temporary folder (the game folder,
# standard input /dev/null, `set -e`: any failing command fails the case and
# is named) and gives it:
#   $tool, $generator       the programs under test
#   run CMD...              runs CMD, appending its stderr and exit status
#                           to what NAME.stderr and NAME.exit are compared
#                           with; its stdout is the case's to redirect
#   on_terminal CMD...      runs CMD on a pseudo-terminal (script(1)); what
#                           the terminal shows goes to stderr
#   generate ARGS...        the generator with ARGS (such as --sfx LAYOUT):
#                           writes the archives here and, in expected/, the
#                           files a correct extraction gives
#   make_game               generate the game most cases use (see below)
# Cases check the files they care about themselves, with diff -r against
# expected/ or cmp against text.
set -u

case_file=$(realpath "$1")
# shellcheck disable=SC2034  # the cases use it
tool=$(realpath "$2")
generator=$(realpath "$3")
name=$(basename "$case_file" .sh)
expected_base=${case_file%.sh}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/game"
: >"$work/stderr"
: >"$work/exit"

run() {
    local status=0
    "$@" 2>>"$work/stderr" || status=$?
    echo "$status" >>"$work/exit"
}

on_terminal() {
    script -qec "$(printf '%q ' "$@")" /dev/null </dev/null >&2
}

generate() {
    "$generator" "$@" --expect expected . >generator.txt 2>&1 ||
        { echo "the generator failed on: $*"; cat generator.txt; exit 1; }
}

# sfx.pak: a tagged block, an empty block, a RIFF block holding a sound of
# 12 bytes, 2 stray bytes and another sound, then the final field.
# speech.pak: one sound of 16 bytes.
make_game() {
    generate --sfx 'block "AVQF1234"; block; block riff(4) "xy" riff(4); final' \
        --speech 'block riff(8) "data"; final'
}

# Not on the left of || nor in an if: there, set -e would be ignored.
(
    cd "$work/game" || exit 1
    set -eE
    trap 'echo "FAIL [$name]: line $LINENO: $BASH_COMMAND"' ERR
    # shellcheck source=/dev/null
    . "$case_file"
) </dev/null
ok=$((! $?))  # 1 when the case's own checks passed

# Compares an actual output with NAME.SUFFIX (exact) or NAME.SUFFIX.pattern.
compare() {  # suffix, actual file
    local expected=$expected_base.$1
    if [ -f "$expected" ]; then
        diff -u --label "expected $1" --label "actual $1" "$expected" "$2" && return 0
    elif [ -f "$expected.pattern" ]; then
        local -a patterns lines
        mapfile -t patterns <"$expected.pattern"
        mapfile -t lines < <(cat -v "$2")
        local i same=1
        [ "${#patterns[@]}" -eq "${#lines[@]}" ] ||
            { echo "$1 has ${#lines[@]} lines, $1.pattern ${#patterns[@]}"; same=0; }
        for ((i = 0; i < ${#patterns[@]} && i < ${#lines[@]}; i++)); do
            grep -Eqx -- "${patterns[i]}" <<<"${lines[i]}" ||
                { echo "$1 line $((i + 1)) does not match /${patterns[i]}/"; same=0; }
        done
        [ "$same" -eq 1 ] && return 0
        echo "actual $1 (as cat -v shows it):"
        printf '%s\n' "${lines[@]}"
    else
        echo "missing $expected"
    fi
    return 1
}

compare exit "$work/exit" || ok=0
compare stderr "$work/stderr" || ok=0
if [ "$ok" -eq 1 ]; then
    echo "ok [$name]"
else
    echo "FAIL [$name]"
    exit 1
fi
