generate --profile sample --seed 2
run "$tool" <<<n
diff -r expected/sfx sfx
[ ! -e speech ]
