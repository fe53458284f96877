# With -C GAME and no -o, extraction writes the folders into GAME, so that
# is where a pack takes them from.
make_game
mkdir game && mv sfx.pak speech.pak game/
"$tool" -y -q -C game
printf 'AVQFedited' >game/sfx/sfx_0001.AVQF
run "$tool" --pack -q -C game
[ -e game/sfx.pak.bak ] && [ -e game/speech.pak.bak ]
"$tool" -y -q -C game -o again
diff -r game/sfx again/sfx
