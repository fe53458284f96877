# A game folder that is missing, a file or without sfx.pak, an output folder
# that is a file: errors in the usual form, and nothing written.
make_game
printf 'a file' >afile
mkdir empty
run "$tool" -C nowhere -y
run "$tool" -C afile -y
run "$tool" -o afile -y
run "$tool" -C empty -n
[ ! -e sfx ] && [ ! -e speech ] && [ -z "$(ls empty)" ]
