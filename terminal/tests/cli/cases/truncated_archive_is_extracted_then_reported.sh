# The second block of sfx.pak claims 64 bytes but holds 12: 52 are missing.
generate --sfx 'block "AVQF1234"; length 64 "AVQFpart"' --speech 'block riff(8) "data"; final'
run "$tool" -y
printf 'AVQF1234' | cmp - sfx/sfx_0001.AVQF
printf 'AVQFpart' | cmp - sfx/sfx_0002.AVQF
diff -r expected/sfx sfx
diff -r expected/speech speech
