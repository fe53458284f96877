generate --profile sample --seed 1
run "$tool" <<<y
diff -r expected/sfx sfx
diff -r expected/speech speech
