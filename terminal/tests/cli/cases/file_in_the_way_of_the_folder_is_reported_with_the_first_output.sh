make_game
printf 'not a folder' >sfx
run "$tool" -n
printf 'not a folder' | cmp - sfx
