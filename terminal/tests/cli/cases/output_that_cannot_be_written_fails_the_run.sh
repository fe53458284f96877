# Every write to standard output is checked, the flush at the end included:
# a full disk fails the run (exit 1) with one error naming standard output.
# A reader that went away before the first write stops it quietly, as
# SIGPIPE stops other tools (exit 141).
make_game
run "$tool" -l -n >/dev/full
run "$tool" -l -n --json >/dev/full
run "$tool" --help >/dev/full
run "$tool" -y -q
run "$tool" --pack --dry-run -q >/dev/full
closed_reader() {
    /usr/bin/python3 -c 'import os, subprocess, sys
read, write = os.pipe()
os.close(read)
sys.exit(subprocess.run(sys.argv[1:], stdout=write).returncode)' "$@"
}
run closed_reader "$tool" -l
run closed_reader "$tool" --pack --dry-run -q
