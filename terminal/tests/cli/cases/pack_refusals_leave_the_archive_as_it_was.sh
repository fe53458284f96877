# Each refusal names the file to act on and its reason, exits 1 and leaves
# that archive as it was, with no temporary file beside it; the other
# archive is packed all the same.
make_game
"$tool" -y -q
cp sfx.pak sfx.kept
no_temporary_files() { ! compgen -G '*.tmp' >/dev/null; }

# A new sound whose samples hold "RIFF" and its own form type "WAVE".
"$generator" --sfx 'raw riff(36) "0123456789" riff(16) "abcdefghij"' stray >/dev/null
cp stray/sfx.pak sfx/sfx_0003.wav
run "$tool" --pack -q
cmp sfx.kept sfx.pak && [ ! -e sfx.pak.bak ] && [ -e speech.pak.bak ] && no_temporary_files
cp expected/sfx/sfx_0003.wav sfx/

# A file of the folder is missing.
rm sfx/sfx_0005.wav
run "$tool" --pack -q
cmp sfx.kept sfx.pak && [ ! -e sfx.pak.bak ] && no_temporary_files

# A block grown past the largest length field (a sparse file of 2 GiB).
truncate -s 2G sfx/sfx_0005.wav
run "$tool" --pack -q
cmp sfx.kept sfx.pak && [ ! -e sfx.pak.bak ] && no_temporary_files
rm sfx/sfx_0005.wav

# Usage: a pack asks nothing; a dry run is one of a pack.
run "$tool" --pack -y
run "$tool" --dry-run

# Neither folder of extracted files: an error, not a silent success.
rm -r sfx speech
run "$tool" --pack
cmp sfx.kept sfx.pak && no_temporary_files
