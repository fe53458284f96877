# The pack keeps the archive it replaces as sfx.pak.bak. Anything else with
# that name (a folder, a link to a file moved away or to the archive
# itself, a FIFO, an empty file) cannot hold it: the pack of that archive,
# and its dry run, refuse (exit 1) and name the file; the archive stays as
# it was. An earlier backup, even one of a truncated archive, is kept.
make_game
"$tool" -n -q
cp sfx.pak sfx.kept
cp expected/speech/speech_0001.wav sfx/sfx_0003.wav  # an edited sound
plant() {
    rm -rf sfx.pak.bak
    case $1 in
        folder) mkdir sfx.pak.bak ;;
        moved-away) : >moved && ln -s moved sfx.pak.bak && rm moved ;;
        archive) ln -s sfx.pak sfx.pak.bak ;;
        fifo) mkfifo sfx.pak.bak ;;
        empty) : >sfx.pak.bak ;;
    esac
}
for what in folder moved-away archive fifo empty; do
    plant "$what"
    run "$tool" --pack --dry-run -q >/dev/null
    run "$tool" --pack -q
    cmp sfx.kept sfx.pak
    ! compgen -G '*.tmp' >/dev/null
done
rm sfx.pak.bak
head -c 20 sfx.kept >sfx.pak.bak
run "$tool" --pack
cmp <(head -c 20 sfx.kept) sfx.pak.bak
! cmp -s sfx.kept sfx.pak
