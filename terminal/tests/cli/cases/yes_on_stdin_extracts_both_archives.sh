make_game
run "$tool" <<<y
diff -r expected/sfx sfx
diff -r expected/speech speech
