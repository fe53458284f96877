# The "n" after the empty line would answer No if the question were asked again.
make_game
run "$tool" <<<$'\nn'
diff -r expected/speech speech
