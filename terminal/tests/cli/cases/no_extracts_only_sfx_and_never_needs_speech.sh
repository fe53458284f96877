make_game
rm speech.pak
run "$tool" <<<n
diff -r expected/sfx sfx
[ ! -e speech ]
