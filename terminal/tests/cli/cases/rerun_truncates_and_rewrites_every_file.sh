make_game
run "$tool" -y
printf 'longer than before, to be truncated' >sfx/sfx_0004
run "$tool" -y
diff -r expected/sfx sfx
diff -r expected/speech speech
