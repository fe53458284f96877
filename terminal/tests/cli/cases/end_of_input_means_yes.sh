make_game
run "$tool" </dev/null
diff -r expected/speech speech
