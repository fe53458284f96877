# -q: no title, status lines, bar or summary, even on a terminal; errors
# are still told.
make_game
run on_terminal "$tool" -q -y
diff -r expected/sfx sfx
run "$tool" -q -C nowhere -y
