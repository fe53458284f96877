# The archives in game/, the folders made in out/deep/ (parents too); the
# game folder gets nothing; the last of a repeated option counts.
mkdir game
(cd game && generate --profile tiny --seed 4)
run "$tool" -C elsewhere -C game -o out/deep -y
diff -r game/expected/sfx out/deep/sfx
diff -r game/expected/speech out/deep/speech
[ "$(ls game)" = "$(printf 'expected\ngenerator.txt\nsfx.pak\nspeech.pak')" ]
run "$tool" --game=game --output=out/deep -n
diff -r game/expected/sfx out/deep/sfx
