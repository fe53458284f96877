#!/usr/bin/env bash
# Builds the tool, makes the sample game folder build/sample-game with the
# project's generator, and runs the tool there. Arguments go to the tool
# (for instance -y or -n to answer the question without being asked).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target quorvel-extractor quorvel-make-sample >/dev/null

game=$root/build/sample-game
rm -rf "$game"
build/default/tools/sample_game/quorvel-make-sample "$game"
cd "$game"
status=0
"$root/build/default/terminal/quorvel-extractor" "$@" || status=$?
echo
for folder in sfx speech; do
    if [[ -d $folder ]]; then
        echo "$game/$folder: $(find "$folder" -type f | wc -l) files, $(du -sh "$folder" | cut -f1)"
    fi
done
exit "$status"
