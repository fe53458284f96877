# Extracting and packing without edits gives every archive back exactly,
# for sample games of several seeds and the tiny game of every block kind;
# the replaced archives are kept as .bak, and a second pack keeps those.
for profile in "sample --seed 2" "sample --seed 7" "tiny --seed 3"; do
    rm -rf ./* && mkdir -p kept
    # shellcheck disable=SC2086  # the profile's words are separate arguments
    generate --profile $profile
    cp sfx.pak speech.pak kept/
    "$tool" -y -q
    run "$tool" --pack -q
    cmp kept/sfx.pak sfx.pak && cmp kept/speech.pak speech.pak
    cmp kept/sfx.pak sfx.pak.bak && cmp kept/speech.pak speech.pak.bak
done
printf "AVQFmine" >sfx/sfx_0006.AVQF
run "$tool" --pack -q
cmp kept/sfx.pak sfx.pak.bak
! cmp -s kept/sfx.pak sfx.pak
# Nothing is left beside the archives but the backups.
[ "$(ls)" = "$(printf '%s\n' expected generator.txt kept sfx sfx.pak sfx.pak.bak speech speech.pak speech.pak.bak)" ]
