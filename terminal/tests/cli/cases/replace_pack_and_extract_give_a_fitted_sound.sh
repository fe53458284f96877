# A modder's round trip: an MP3 put in the place of an IMA ADPCM and a GSM
# 6.10 sound with --replace, packed, and extracted again from the new
# archive: each sound has its old format (encoding, channels, rate, bits)
# and the MP3's length; a dry run before changes nothing; a sound that is
# not one, or a file that is not a sound, is refused by name and leaves the
# others as they were.
generate --profile sample --seed 2
"$tool" -y -q
first_of() {  # encoding: the listed path of the first sound of it
    "$tool" -l -y --json | grep -m1 "\"encoding\": \"$1\"" | sed 's/^{"path": "\([^"]*\)".*/\1/'
}
format_of() {  # path: its channels, rate, bits and encoding in the listing
    "$tool" -l -y --json | grep -F "\"path\": \"$1\"" | grep -oE '"(channels|rate|bits|encoding)": [^,]*' | tr '\n' ' '
}
adpcm=$(first_of ima_adpcm)
gsm=$(first_of gsm610)
tail=$("$tool" -l -y --json | grep -m1 '"kind": "tail"' | sed 's/^{"path": "\([^"]*\)".*/\1/')
before_adpcm=$(format_of "$adpcm")
before_gsm=$(format_of "$gsm")
sox -n -r 44100 -c 2 new.mp3 synth 2.5 sine 440 gain -3
printf 'not a sound at all' >notes.txt

# A sound put there by hand in another format is packed as it is, and named.
cp "$adpcm" adpcm.kept
sox -n -r 44100 -c 2 -b 16 "$adpcm" synth 0.5 sine 300
run "$tool" --pack --dry-run -q >/dev/null
cp adpcm.kept "$adpcm"

cp -r sfx sfx.kept
run "$tool" --replace "$adpcm" new.mp3 --dry-run -q
diff -r sfx.kept sfx
run "$tool" --replace "$adpcm" new.mp3 "$gsm" new.mp3 "$tail" new.mp3 "$gsm" notes.txt -q
run "$tool" --pack -q
mkdir again && cp sfx.pak speech.pak again/ && "$tool" -y -q -C again
[ "$(format_of "$adpcm")" = "$before_adpcm" ] && [ "$(format_of "$gsm")" = "$before_gsm" ]
# The MP3's own length, as its decoder gives it (2.5 s and the encoder's
# padding), within a hundredth.
seconds=$("$tool" -l -y --json | grep -F "\"path\": \"$adpcm\"" | sed 's/.*"seconds": \([0-9.]*\).*/\1/')
awk -v s="$seconds" 'BEGIN { exit !(s >= 2.50 && s <= 2.56) }'
cmp "again/$adpcm" "$adpcm" && cmp "again/$gsm" "$gsm"
