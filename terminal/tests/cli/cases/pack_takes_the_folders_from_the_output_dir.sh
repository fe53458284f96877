# With -o DIR the folders are read from DIR, and with -C GAME the archives
# are replaced in GAME; messages name them as paths from here.
make_game
mkdir game && mv sfx.pak speech.pak game/
"$tool" -y -q -C game -o out
printf 'AVQFedited' >out/sfx/sfx_0001.AVQF
run "$tool" --pack -C game -o out
[ ! -e game/sfx ] && [ -e game/sfx.pak.bak ] && [ -e game/speech.pak.bak ]
"$tool" -y -q -C game -o again
diff -r out again
# A folder missing from DIR is not looked for beside the archives: the
# empty game/speech, were it taken, would be refused for its missing files.
rm -r out/speech && mkdir game/speech
run "$tool" --pack -q -C game -o out
# Every message names a file as a path from here: a file left out, the dry
# run's changed files and a refusal.
"$tool" -y -q -C game -o out
printf 'mine' >out/sfx/notes.txt
printf 'AVQFagain' >out/sfx/sfx_0001.AVQF
run "$tool" --pack --dry-run -C game -o out >report
grep -q "^game/sfx.pak: block at offset 0: 14 -> 13 bytes: out/sfx/sfx_0001.AVQF$" report
rm out/sfx/sfx_0001.AVQF
run "$tool" --pack -q -C game -o out
