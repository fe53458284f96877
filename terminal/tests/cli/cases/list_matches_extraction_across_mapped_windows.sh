# Blocks written whole are passed over, not read, by the listing; whatever
# their size and however they lie across the 4 MiB windows the archive is
# mapped in, each is listed with the size and offset extraction gives it.
M=$((1 << 20))
layout="block \"AVQF\" bytes($((5 * M - 8)), 1)"            # 0 .. 5M: larger than a window
layout+="; block \"DATA\" bytes($((3 * M)), 2)"             # 5M .. 8M+8: across the 8 MiB edge
layout+="; block \"DATA\" bytes($((4 * M - 21)), 3)"        # up to 12M-5
layout+="; length 7 \"abc\"; length 6 \"ab\""               # a short block across the 12 MiB edge
layout+="; length $((6 * M)) \"DATA\" bytes($((5 * M)), 4)" # truncated, across the 16 MiB edge
generate --sfx "$layout"
run "$tool" -l -n --json >listing.json
run "$tool" -n -q
[ "$(grep -c '"path"' listing.json)" = 6 ]
total=0
while IFS=' ' read -r path offset size; do
    [ "$(stat -c %s "$path")" = "$size" ] || { echo "$path: listed as $size bytes, written $(stat -c %s "$path")"; exit 1; }
    cmp <(tail -c +$((offset + 1)) sfx.pak | head -c "$size") "$path"
    total=$((total + size))
done < <(sed -n 's/^{"path": "\([^"]*\)", "kind": "[a-z]*", "offset": \([0-9]*\), "size": \([0-9]*\),.*/\1 \2 \3/p' listing.json)
grep -q "^{\"archive\": \"sfx.pak\", \"files\": 6, \"bytes\": $total, " listing.json
diff -r expected/sfx sfx
