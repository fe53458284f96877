make_game
run "$tool" <<<$'perhaps\nNO'
[ ! -e speech ]
