# The listing writes nothing and names every file extraction writes, with
# its size; the summary counts them.
generate --profile sample --seed 2
run "$tool" --list >listing.txt
[ ! -e sfx ] && [ ! -e speech ]
run "$tool" -y
grep -v ': ' listing.txt | cut -f1,4 | sort >listed.txt
find sfx speech -type f -printf '%p\t%s\n' | sort >written.txt
diff listed.txt written.txt
[ "$(grep -c '^sfx.pak: ' listing.txt)" = 1 ] && [ "$(grep -c '^speech.pak: ' listing.txt)" = 1 ]
files=$(find sfx -type f | wc -l)
grep -q "^sfx.pak: $files files, " listing.txt
run "$tool" -l -n >sfx-only.txt
! grep -q '^speech' sfx-only.txt
