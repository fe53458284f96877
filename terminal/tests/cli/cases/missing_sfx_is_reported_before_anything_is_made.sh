run "$tool" -n
[ ! -e sfx ]
