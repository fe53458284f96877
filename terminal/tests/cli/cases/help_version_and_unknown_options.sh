run "$tool" --help >help.txt
run "$tool" --version >version.txt
run "$tool" --frobnicate
run "$tool" -C
run "$tool" --json
# Bad usage is one line and a pointer to --help, which shows it all.
cmp "$expected_base.help" help.txt
grep -Eqx 'quorvel-extractor [0-9]+\.[0-9]+\.[0-9]+' version.txt
