# -O writes the chosen files to standard output, in order, one after the
# other, and nothing to disk; sound bytes are never written to a terminal.
make_game
run "$tool" -O sfx:1 'sfx_0003.wav' 'speech/*' >out.bin
cat expected/sfx/sfx_0001.AVQF expected/sfx/sfx_0003.wav expected/speech/speech_0001.wav | cmp - out.bin
[ ! -e sfx ] && [ ! -e speech ]
status=0
on_terminal "$tool" -O sfx:1 2>terminal.txt || status=$?
[ "$status" = 1 ]
grep -q '^quorvel-extractor: standard output is a terminal, and sounds are not written to one: send them to a file or a player' terminal.txt
run "$tool" -O
run "$tool" -O --list sfx:1
