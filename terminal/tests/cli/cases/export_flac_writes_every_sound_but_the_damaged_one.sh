# --export flac on the sample game, one of whose sounds is damaged (its
# "fmt " chunk overwritten): that sound is told on one line, "FILE:
# DESCRIPTION", every other sound is written to export/, FLAC of the same
# samples as the extracted file, named by its label where the game folder's
# labels file gives one, and the run ends with exit status 1. Each file's
# tags trace it back: the label, the listed path and the XXH64 of its bytes.
generate --profile sample --seed 2
offset=$("$tool" -l -n --json | sed -n 's/.*"sfx\/sfx_0004.wav".*"offset": \([0-9]*\).*/\1/p')
printf 'JUNK' | dd of=sfx.pak bs=1 seek=$((offset + 12)) conv=notrunc status=none
# The hash by an implementation that is not the program's.
hash=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); from xxh64 import xxh64
print("%016x" % xxh64(open(sys.argv[2], "rb").read()))' \
    "$(dirname "$case_file")/../../../../studio/tests" expected/sfx/sfx_0001.wav)
printf 'sfx/sfx_0001.wav\t%s\tdoor: creak?\nspeech/speech_0003.wav\t\tguard says "halt"\n' "$hash" >quorvel-labels.tsv
run "$tool" --export flac -y

# Every sound but the damaged one, under its number and label.
(cd expected && find sfx speech -name '*.wav' ! -name sfx_0004.wav | sed 's/\.wav$/.flac/') >wanted
sed -i -e 's|^sfx/sfx_0001.flac$|sfx/sfx_0001 door_ creak_.flac|' \
    -e 's|^speech/speech_0003.flac$|speech/speech_0003 guard says _halt_.flac|' wanted
(cd export && find sfx speech -type f | sort) >written
diff <(sort wanted) written
[ "$(wc -l <written)" -eq 95 ]

# The same samples, bit for bit, at the source's depth: 16 bits mono and
# stereo, 24 bits, 8 bits.
for file in "sfx/sfx_0001 door_ creak_.flac" sfx/sfx_0002.flac sfx/sfx_0006.flac sfx/sfx_0007.flac \
    "speech/speech_0003 guard says _halt_.flac"; do
    name=${file##*/}
    source=expected/${file%%/*}/${name%%[ .]*}.wav
    cmp <(sox "$source" -e signed -b 32 -t raw -) <(sox "export/$file" -e signed -b 32 -t raw -)
    [ "$(soxi -b "export/$file")" = "$(soxi -b "$source")" ]
done

soxi -a "export/sfx/sfx_0001 door_ creak_.flac" >tags
grep -qx 'title=door: creak?' tags
grep -qx "comment=sfx/sfx_0001.wav xxh64:$hash" tags
grep -qx 'title=guard says "halt"' <(soxi -a "export/speech/speech_0003 guard says _halt_.flac")
# Nothing of extraction's is made.
[ ! -e sfx ] && [ ! -e speech ]
