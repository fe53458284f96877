make_game
rm speech.pak
run "$tool" -y
[ ! -e sfx ]
