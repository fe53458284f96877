# Listing reads what extraction with Yes reads: without speech.pak it fails
# before listing anything, unless -n leaves speech out.
generate --sfx 'block "AVQF1234"; final'
run "$tool" --list >with-speech.txt
[ ! -s with-speech.txt ]
run "$tool" --list -n >sfx-only.txt
printf 'sfx/sfx_0001.AVQF\tavqf\t4\t8\nsfx.pak: 1 file, 8 bytes, 0 sounds, 0.00 s\n' | cmp - sfx-only.txt
