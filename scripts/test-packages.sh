#!/usr/bin/env bash
# Proves the Linux packages and the manual rather than just building them:
#   1. the manual page is lint-clean and names every option --help prints;
#   2. `cmake --install` into a DESTDIR gives a program that runs from there
#      on the sample game, with the files a correct extraction gives;
#   3. the .deb: lintian shows no error, Depends were computed, the manual
#      page is compressed; with CI=true as root it is installed with apt-get,
#      run (--version, man -w) and removed again; otherwise only its contents
#      are checked, and nothing on this system changes;
#   4. the .tar.gz holds the installed tree, and the README names the glibc
#      its program needs;
#   5. --version prints the project version.
# The Windows zip is proven by scripts/test-windows.sh, under Wine.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "ok: $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

version=$(sed -n 's/^project(quorvel-extractor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
manual=terminal/quorvel-extractor.1

scripts/package.sh --linux-only >/dev/null
deb=dist/quorvel-extractor_${version}_amd64.deb
tarball=dist/quorvel-extractor-${version}-linux-x86_64.tar.gz
program=build/package-linux/terminal/quorvel-extractor

# 1. The manual.
if lint=$(mandoc -T lint -W warning "$manual" 2>&1) && [[ -z $lint ]]; then
    pass "mandoc -T lint -W warning reports nothing"
else
    fail "mandoc: $lint"
fi
rendered=$(mandoc -T ascii "$manual" | col -b)
missing=()
for option in $("$program" --help | grep -oE '(^|[ ,])--?[a-zA-Z][-a-zA-Z]*' | tr -d ' ,' | sort -u); do
    grep -qE -- "(^|[^-a-zA-Z])${option}([^-a-zA-Z]|$)" <<<"$rendered" || missing+=("$option")
done
if ((${#missing[@]} == 0)); then
    pass "every option of --help is in the manual"
else
    fail "the manual lacks: ${missing[*]}"
fi

# 2. An install into a DESTDIR, run from there.
cmake --build build/package-linux --target quorvel-make-sample >/dev/null
DESTDIR=$work/root cmake --install build/package-linux --prefix /opt/quorvel >/dev/null
installed=$work/root/opt/quorvel
for file in bin/quorvel-extractor share/man/man1/quorvel-extractor.1.gz share/doc/quorvel-extractor/README.md \
    share/doc/quorvel-extractor/LICENSE share/bash-completion/completions/quorvel-extractor \
    share/zsh/vendor-completions/_quorvel-extractor; do
    [[ -f $installed/$file ]] || fail "the install lacks $file"
done
# Every page the README links to is installed beside it.
for page in $(grep -oE '\]\((docs/[^)]+)\)' README.md | sed -E 's/^\]\(|\)$//g' | sort -u); do
    [[ -f $installed/share/doc/quorvel-extractor/$page ]] || fail "the install lacks $page, which the README links to"
done
build/package-linux/tools/sample_game/quorvel-make-sample --expect "$work/expected" "$work/game" >/dev/null
if (cd "$work/game" && "$installed/bin/quorvel-extractor" -y 2>/dev/null) &&
    diff -r "$work/expected/sfx" "$work/game/sfx" >/dev/null && diff -r "$work/expected/speech" "$work/game/speech" >/dev/null; then
    pass "the installed program extracts the sample game as expected"
else
    fail "the installed program's output differs from the expected files"
fi

# 3. The Debian package.
if lintian_output=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges'); ! grep -q '^E:' <<<"$lintian_output"; then
    pass "lintian: no errors"
else
    fail "lintian: $lintian_output"
fi
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/quorvel-extractor ./usr/share/man/man1/quorvel-extractor.1.gz \
    ./usr/share/doc/quorvel-extractor/copyright ./usr/share/doc/quorvel-extractor/changelog.gz; do
    grep -qF " $file" <<<"$contents" || fail "the .deb lacks $file"
done
grep -q '^ Depends: libc6 (>= ' <(dpkg-deb -I "$deb") && pass "Depends computed from the binary" ||
    fail "the .deb has no computed Depends"
if [[ ${CI:-} == true && $(id -u) == 0 ]]; then
    apt-get install -y "./$deb" >/dev/null
    [[ $(quorvel-extractor --version) == "quorvel-extractor $version" ]] && man -w quorvel-extractor >/dev/null &&
        pass "installed with apt-get: --version and man -w work" || fail "the installed package does not run"
    apt-get remove -y quorvel-extractor >/dev/null
    [[ ! -e /usr/bin/quorvel-extractor ]] && pass "removed cleanly" || fail "removing left the program behind"
else
    echo "note: the .deb is installed only in CI (CI=true, as root); its contents were checked instead"
fi

# 4. The tarball and the glibc it needs.
tar -tzf "$tarball" | grep -q '/bin/quorvel-extractor$' && pass "the .tar.gz holds bin/quorvel-extractor" ||
    fail "the .tar.gz lacks the program"
needed=$(objdump -T "$program" | grep -oE 'GLIBC_[0-9.]+' | sort -uV | tail -n 1)
grep -qF "glibc ${needed#GLIBC_}" README.md && pass "the README names the glibc the program needs (${needed#GLIBC_})" ||
    fail "the README does not say the program needs glibc ${needed#GLIBC_}"

# 5. The version.
[[ $("$program" --version) == "quorvel-extractor $version" ]] && pass "--version prints $version" ||
    fail "--version prints $("$program" --version)"

echo "packages: $failures failures"
((failures == 0))
