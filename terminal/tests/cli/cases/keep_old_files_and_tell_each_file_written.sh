# -k leaves files that are there as they are and counts them in one line at
# the end; -v writes the path of each file written on standard output.
make_game
run "$tool" -n -q -v >written.txt
[ "$(cat written.txt)" = "$(cd expected && find sfx -type f | sort)" ]
echo mine >sfx/sfx_0001.AVQF
rm sfx/sfx_0003.wav
run "$tool" -n -k -v >written.txt
[ "$(cat written.txt)" = sfx/sfx_0003.wav ]
[ "$(cat sfx/sfx_0001.AVQF)" = mine ]
cmp expected/sfx/sfx_0003.wav sfx/sfx_0003.wav
# Short options bundle, and take their values joined or apart.
run "$tool" -nqk -Cgame-elsewhere -o out
mkdir game-elsewhere && cp sfx.pak game-elsewhere/
run "$tool" -nqk -Cgame-elsewhere -o out
diff -r expected/sfx out/sfx
