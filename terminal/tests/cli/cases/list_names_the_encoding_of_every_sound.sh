# A sound's encoding is the text listing's last column and the JSON's
# "encoding", and the two agree file by file; the sample game holds every
# encoding a game stores where its generator is built with libsndfile, and
# only integer PCM otherwise.
generate --profile sample --seed 4
run "$tool" -l -n >listing.txt
run "$tool" -l -n --json >listing.json
awk -F'\t' '$2 == "sound" && NF == 9 { print $1 "\t" $9 }' listing.txt | LC_ALL=C sort >text.txt
sed -n 's/^{"path": "\([^"]*\)", "kind": "sound", .*"encoding": "\([^"]*\)", .*/\1\t\2/p' listing.json |
    LC_ALL=C sort >json.txt
[ "$(wc -l <text.txt)" = "$(grep -c '"kind": "sound"' listing.json)" ]
LC_ALL=C join -t "$(printf '\t')" text.txt json.txt | cut -f2,3 | LC_ALL=C sort -u >pairs.txt
printf '%s\t%s\n' 'A-law' alaw 'G.721 ADPCM' g721 'GSM 6.10' gsm610 'IMA ADPCM' ima_adpcm 'MS ADPCM' ms_adpcm \
    PCM pcm_s16 PCM pcm_s24 PCM pcm_s32 PCM pcm_u8 float float32 float float64 'µ-law' ulaw | LC_ALL=C sort >every.txt
if grep -q '"encoding": "ima_adpcm"' listing.json; then
    diff every.txt pairs.txt
else
    grep -v pcm_s32 every.txt | grep '^PCM' | diff - pairs.txt
fi
