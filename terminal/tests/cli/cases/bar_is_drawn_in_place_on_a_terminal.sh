# The bar is redrawn at most so often: how many readings show between the
# first and the last of an archive depends on time, the first and last do not.
make_game
run on_terminal "$tool" -y
diff -r expected/sfx sfx
diff -r expected/speech speech
