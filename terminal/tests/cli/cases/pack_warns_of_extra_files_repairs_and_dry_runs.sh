# Files extraction does not make are left out, named in one warning; a
# truncated archive is packed whole and said to be repaired (exit 0); a
# dry run names each block that would change, with its sizes and files,
# and writes nothing.
generate --sfx 'block "AVQF1234"; block riff(4) "xy" riff(4); length 64 "AVQFpart"' --speech 'block riff(8) "data"; final'
run "$tool" -y -q
cp sfx.pak sfx.kept && cp speech.pak speech.kept
printf 'AVQF5678' >sfx/sfx_0001.AVQF
printf 'xyz' >sfx/sfx_0003
echo notes >sfx/notes.txt && cp sfx/sfx_0003 sfx/sfx_0003.orig
run "$tool" --pack --dry-run >dry-run.txt
cmp sfx.kept sfx.pak && cmp speech.kept speech.pak && ! compgen -G "*.pak.*" >/dev/null
cat >expected-dry-run.txt <<'END'
sfx.pak: block at offset 0: 12 -> 12 bytes: sfx/sfx_0001.AVQF
sfx.pak: block at offset 12: 30 -> 31 bytes: sfx/sfx_0002.wav, sfx/sfx_0003, sfx/sfx_0004.wav
sfx.pak: block at offset 42: 12 -> 12 bytes: sfx/sfx_0005.AVQF
sfx.pak: block at offset 54: 0 -> 4 bytes: (the final field)
sfx.pak: 3 of 3 blocks would change, 54 -> 59 bytes; nothing was written
speech.pak: 0 of 1 blocks would change, 24 -> 24 bytes; nothing was written
END
diff expected-dry-run.txt dry-run.txt
run "$tool" --pack -q
mkdir again && cp sfx.pak again/ && (cd again && "$tool" -n -q)
rm sfx/notes.txt sfx/sfx_0003.orig
diff -r sfx again/sfx
cmp sfx.kept sfx.pak.bak
