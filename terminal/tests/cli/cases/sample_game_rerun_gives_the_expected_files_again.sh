generate --profile sample --seed 3
run "$tool" -y
# Spoil the first run's files: the rerun must truncate and rewrite them all.
printf 'left over' >>sfx/sfx_0001.wav
: >speech/speech_0001.wav
run "$tool" -y
diff -r expected/sfx sfx
diff -r expected/speech speech
