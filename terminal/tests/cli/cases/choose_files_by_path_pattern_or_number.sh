# Operands choose files: each chosen file is written byte for byte as a full
# extraction writes it, under its own number; nothing else is written, and
# no question is asked. An operand that chooses nothing is an error named
# after the rest is done.
generate --profile sample --seed 2
run "$tool" -q sfx:1-3 'speech/*_000[12]*' '*.AVQF' nothing-here
chosen=$( (cd expected && find sfx speech -name 'sfx_000[123]*' -o -name '*.AVQF' -o -path 'speech/speech_000[12]*') | sort)
[ "$(find sfx speech -type f | sort)" = "$chosen" ]
for file in $chosen; do cmp "expected/$file" "$file"; done

# A listing of the same operands lists those files, and its totals count them.
run "$tool" -l sfx:1-3 'speech/*_000[12]*' '*.AVQF' >listing.txt
[ "$(grep -vc ': ' listing.txt)" = "$(echo "$chosen" | wc -l)" ]
grep -q "^sfx.pak: $(echo "$chosen" | grep -c '^sfx/') files, " listing.txt

# Without speech.pak, only an operand that names speech needs it.
rm -r sfx speech speech.pak
run "$tool" -q 'sfx_000?.wav'
[ -n "$(ls sfx)" ] && [ ! -e speech ]
run "$tool" -q 'speech:1'
