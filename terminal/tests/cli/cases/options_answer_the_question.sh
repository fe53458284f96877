# Standard input answers the other way: an option that is not heeded shows.
make_game
run "$tool" -n <<<y
[ ! -e speech ]
run "$tool" --yes <<<n
diff -r expected/speech speech
