# Sounds replaced by longer and shorter ones at other rates (made by the
# generator) go into the archive: extracting the packed archive gives the
# folder exactly as it was edited.
make_game
"$tool" -y -q
"$generator" --profile sound --size 300K --seed 9 long >/dev/null
"$generator" --profile sound --size 2K --seed 4 short >/dev/null
(cd long && "$tool" -n -q) && (cd short && "$tool" -n -q)
cp long/sfx/sfx_0001.wav sfx/sfx_0003.wav
cp short/sfx/sfx_0001.wav speech/speech_0001.wav
run "$tool" --pack
mkdir again && cp sfx.pak speech.pak again/
(cd again && "$tool" -y -q)
diff -r sfx again/sfx
diff -r speech again/speech
