# A clip cut from one of the game's sounds, brought to another rate and
# made quieter, finds that sound first and where in it the clip starts; the
# index is written once and reused; a clip of noise finds nothing (exit 1,
# nothing printed), and a file that is not a sound is refused by name.
generate --profile sample --seed 2
"$tool" -y -q
# The longest 16-bit sound of sfx, cut from 0.3 s on for 1 s (sox without
# dither, so that the clip is the same on every run).
sound=$("$tool" -l -y --json | grep '"encoding": "pcm_s16"' |
    sed 's/^{"path": "\([^"]*\)".*"seconds": \([0-9.]*\).*/\2 \1/' | sort -rn | head -n 1 | cut -d' ' -f2)
sox -D "$sound" -r 16000 clip.wav trim 0.3 1.0 gain -6
run "$tool" --find clip.wav -y -q -o found >found.txt
[ -s found/quorvel-sound-index.bin ]
head -n 1 found.txt | awk -F'\t' -v want="$sound" \
    '$1 == want && $2 ~ /^[0-9]+\.[0-9][0-9][0-9]$/ && $2 >= 0.25 && $2 <= 0.35 && $3 >= 8 { ok = 1 } END { exit !ok }'
# Nothing changed: the index file is read, not written again.
cp found/quorvel-sound-index.bin index.kept
touch -d '2000-01-01' found/quorvel-sound-index.bin
run "$tool" --find clip.wav -y -q -o found --json --max 1 >found.json
[ "$(wc -l <found.json)" -eq 1 ]
grep -qE "^\{\"path\": \"$sound\", \"offset\": 0\.[23][0-9]{2}, \"score\": [0-9]+\}$" found.json
[ "$(date -r found/quorvel-sound-index.bin +%Y)" = 2000 ]
# A damaged index is rebuilt to the same file.
printf 'not an index' >found/quorvel-sound-index.bin
run "$tool" --find clip.wav -y -q -o found >/dev/null
cmp found/quorvel-sound-index.bin index.kept
sox -D -n -r 16000 noise.wav synth 1 whitenoise
run "$tool" --find noise.wav -y -q -o found >nothing.txt
[ ! -s nothing.txt ]
printf 'not a sound at all' >notes.txt
run "$tool" --find notes.txt -y -q -o found
run "$tool" --find clip.wav --max 0
