# The pack reads a folder's files without following a link in a file's
# place: a link (to a secret, or dangling), a folder or a FIFO refuses that
# archive's pack and its dry run, naming the file as a path from here and
# the way out; what the link points to never reaches the archive.
make_game
mkdir game && mv sfx.pak speech.pak game/
"$tool" -y -q -C game
cp game/sfx.pak sfx.kept
printf 'the secret' >secret
mv game/sfx/sfx_0003.wav sound.wav
for plant in 'ln -s ../../secret' 'ln -s ../../nowhere' 'mkdir' 'mkfifo'; do
    $plant game/sfx/sfx_0003.wav
    run "$tool" --pack -q -C game --dry-run
    run "$tool" --pack -q -C game
    cmp sfx.kept game/sfx.pak && [ ! -e game/sfx.pak.bak ] && ! grep -q 'the secret' game/sfx.pak
    rm -r game/sfx/sfx_0003.wav
done
mv sound.wav game/sfx/sfx_0003.wav
run "$tool" --pack -q -C game
