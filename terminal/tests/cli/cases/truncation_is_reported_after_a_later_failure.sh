generate --sfx 'block "AVQF1234"; length 64 "AVQFpart"' --speech 'block riff(8) "data"; final'
printf 'not a folder' >speech
run "$tool" -y
printf 'AVQFpart' | cmp - sfx/sfx_0002.AVQF
