#!/usr/bin/env bash
# Builds the sound libraries for the Windows programs: libsndfile (with FLAC,
# Ogg Vorbis, Opus and MP3 read and write), libsoxr, libebur128 and kissfft,
# static, cross-compiled with MinGW-w64 from Debian 12's own source packages
# (Debian's patches applied, its security fixes included), and installed into
# PREFIX, where the windows preset finds them (audio/dependencies.cmake).
#
#   scripts/build-windows-audio-libs.sh [PREFIX]     (default: build/windows-audio)
#
# Debian ships none of them built for MinGW-w64, hence this script. The
# sources come through apt with a state of its own inside PREFIX (the
# system's apt configuration is only read, never changed), so it needs the
# Debian mirror (apt-get) and dpkg-dev. Each package leaves a stamp holding
# its recipe: a second run builds nothing, and a changed recipe rebuilds
# that package and those built on it. From nothing: about 6.5 minutes of CPU
# on 2 cores, most of it in the configure steps and in flac, opus, mpg123,
# lame and libsndfile.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$root/build/windows-audio}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
work=$prefix/work
stamps=$prefix/stamps
triplet=x86_64-w64-mingw32
jobs=2

# In build order: each is built on those before it.
packages=(libogg libvorbis flac opus mpg123 lame libsndfile libsoxr libebur128 kissfft)

say() { printf 'windows-audio: %s\n' "$*"; }
die() {
    printf 'windows-audio: %s\n' "$*" >&2
    exit 1
}

for tool in "$triplet-gcc-posix:g++-mingw-w64-x86-64-posix" "$triplet-g++-posix:g++-mingw-w64-x86-64-posix" \
    cmake:cmake ninja:ninja-build make:make apt-get:apt dpkg-source:dpkg-dev patch:patch sha256sum:coreutils \
    pkg-config:pkg-config "$triplet-objdump:binutils-mingw-w64-x86-64"; do
    command -v "${tool%%:*}" >/dev/null || die "${tool%%:*} is missing: apt-get install ${tool#*:}"
done

# Every build, and the final check, sees only the prefix's pkg-config files:
# the host's would hand Linux libraries to a Windows link.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig PKG_CONFIG_PATH='' PKG_CONFIG_SYSROOT_DIR=''

# ---------------------------------------------------------------- recipes
# Each build_PACKAGE runs in the package's empty build folder with the
# unpacked, patched sources in $src and installs into $prefix. Its text is
# part of the package's stamp.

cmake_build() {  # cmake_build SOURCE-FOLDER ARGUMENTS...: configure, build, install
    local source=$1
    shift
    cmake -S "$source" -B . -G Ninja --toolchain "$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_INSTALL_INCLUDEDIR=include -DCMAKE_INSTALL_BINDIR=bin \
        -DCMAKE_POLICY_DEFAULT_CMP0074=NEW "$@"
    cmake --build . -j "$jobs"
    cmake --install .
}

build_libogg() {
    cmake_build "$src" -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
}

build_libvorbis() {  # libvorbis.a holds vorbisenc
    cmake_build "$src" -DBUILD_TESTING=OFF
}

build_flac() {
    # The stack protector and fortified sources would need MinGW's libssp DLL.
    cmake_build "$src" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
        -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=ON -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF
    # A static libFLAC's users must not look for it in a DLL.
    sed -i '/^Cflags:/{/-DFLAC__NO_DLL/!s/$/ -DFLAC__NO_DLL/}' "$prefix/lib/pkgconfig/flac.pc"
}

build_opus() {
    # The release tarball lacks this file, which only git checkouts need.
    [[ -e $src/opus_buildtype.cmake ]] || : >"$src/opus_buildtype.cmake"
    cmake_build "$src" -DOPUS_STACK_PROTECTOR=OFF -DOPUS_BUILD_PROGRAMS=OFF -DOPUS_BUILD_TESTING=OFF
}

build_mpg123() {
    cmake_build "$src/ports/cmake" -DBUILD_LIBOUT123=OFF -DBUILD_PROGRAMS=OFF -DNETWORK=OFF
    # The static library calls the path functions of shlwapi.
    sed -i '/^Libs.private:/{/-lshlwapi/!s/$/ -lshlwapi/}' "$prefix/lib/pkgconfig/libmpg123.pc"
    grep -q '^Libs.private:.*-lshlwapi' "$prefix/lib/pkgconfig/libmpg123.pc" ||
        echo 'Libs.private: -lshlwapi' >>"$prefix/lib/pkgconfig/libmpg123.pc"
}

build_lame() {
    # The shipped configure (Debian's patches to configure.in and the
    # Makefile.am files would need autoreconf; they add a lame.pc and -msse,
    # which x86-64 has anyway). It does not recognise the -posix compiler's
    # version and would build without optimisation: hence CFLAGS.
    "$src/configure" --host="$triplet" --prefix="$prefix" --disable-shared --enable-static \
        --disable-frontend --disable-decoder --disable-maintainer-mode \
        CC="$triplet-gcc-posix" CFLAGS=-O2
    make -j "$jobs"
    make install
}

build_libsndfile() {
    cmake_build "$src" -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_TESTING=OFF -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF \
        -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
    # CMake silently leaves out a codec whose library it did not find.
    local setting
    for setting in HAVE_EXTERNAL_XIPH_LIBS HAVE_MPEG; do
        grep -Eq "^#define $setting 1\$" src/config.h ||
            die "libsndfile was configured without $setting (FLAC, Vorbis and Opus need it; MP3 needs HAVE_MPEG): see $log"
    done
    # sndfile.pc names libmp3lame among its private libraries, and lame
    # installs no .pc file that pkg-config could follow instead.
    grep -q '^Libs.private:.*-lmp3lame' "$prefix/lib/pkgconfig/sndfile.pc" ||
        die "sndfile.pc does not link libmp3lame: see $log"
}

build_libsoxr() {
    cmake_build "$src" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
    # soxr installs its pkg-config file only on Unix.
    cat >"$prefix/lib/pkgconfig/soxr.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: soxr
Description: High quality, one-dimensional sample-rate conversion library
Version: $upstream_version
Libs: -L\${libdir} -lsoxr
Cflags: -I\${includedir}
EOF
}

build_libebur128() {
    cmake_build "$src"
}

build_kissfft() {
    cmake_build "$src" -DKISSFFT_STATIC=ON -DKISSFFT_DATATYPE=float -DKISSFFT_TEST=OFF -DKISSFFT_TOOLS=OFF \
        -DKISSFFT_PKGCONFIG=ON -DKISSFFT_OPENMP=OFF
    # A shared build's define would make every caller import from a DLL.
    sed -i 's/ *-DKISS_FFT_SHARED//' "$prefix/lib/pkgconfig/kissfft-float.pc"
}

# What lets apt leave a file out: the upstream signature of mpg123's tarball
# and libebur128's Debian tarball are listed by their .dsc files but missing
# on the mirror (404). The tarballs themselves are checked against the .dsc;
# libebur128's Debian changelog says its patches were dropped in 1.2.3-1.
declare -A may_be_missing=([mpg123]='*.orig.tar.*.asc' [libebur128]='*.debian.tar.*')
may_lack() {  # may_lack PACKAGE FILE
    local pattern=${may_be_missing[$1]:-}
    # shellcheck disable=SC2053 # a pattern, on purpose
    [[ -n $pattern && $2 == $pattern ]]
}

# ---------------------------------------------------------------- sources

write_toolchain() {
    mkdir -p "$work"
    cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH $prefix /usr/$triplet)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

apt_config=
# A private apt state: Debian's deb-src lines for the system's own mirror and
# suites, lists and caches inside the work folder. The system's settings
# (proxies, say) still apply, but not its hooks after an update, which would
# refresh caches of the system's own.
prepare_apt() {
    [[ -z $apt_config ]] || return 0
    local state=$work/apt
    rm -rf "$state"
    mkdir -p "$state/sources.list.d" "$state/lists/partial" "$state/cache/archives/partial"
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$state/sources.list.d/debian.sources"
    elif [[ -f /etc/apt/sources.list ]]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$state/sources.list.d/debian.list"
    else
        die "no Debian mirror is configured (/etc/apt/sources.list.d/debian.sources)"
    fi
    cat >"$state/apt.conf" <<EOF
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$state/sources.list.d";
Dir::State::Lists "$state/lists";
Dir::Cache "$state/cache";
APT::Sandbox::User "$(id -un)";
EOF
    say "reading Debian's source lists"
    apt-get -c "$state/apt.conf" -q update >"$work/apt-update.log" 2>&1 ||
        die "apt-get update failed (is the Debian mirror reachable?): $(tail -n 3 "$work/apt-update.log")"
    apt_config=$state/apt.conf
}

# dsc_checksums DSC: "SHA256 NAME" for each file the .dsc lists.
dsc_checksums() {
    sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$1" | awk '{print $1, $3}'
}

# fetch PACKAGE: its source files in $work/downloads/PACKAGE; sets $dsc.
fetch() {
    local package=$1 downloads=$work/downloads/$1
    prepare_apt
    rm -rf "$downloads"
    mkdir -p "$downloads"
    local status=0
    (cd "$downloads" && apt-get -c "$apt_config" -q source --download-only "$package") \
        >"$work/logs/$package.fetch.log" 2>&1 || status=$?
    dsc=$(find "$downloads" -maxdepth 1 -name "${package}_*.dsc" | head -n 1)
    [[ -n $dsc ]] || die "apt-get source $package fetched no .dsc: $(tail -n 3 "$work/logs/$package.fetch.log")"
    # apt checked what it fetched against the signed lists; when it could
    # not fetch everything, the files it did fetch are checked against the
    # .dsc here, and only the known gaps are let through.
    local sha name
    while read -r sha name; do
        if [[ -f $downloads/$name ]]; then
            echo "$sha  $downloads/$name" | sha256sum --quiet -c - ||
                die "$name does not match the SHA-256 in $(basename "$dsc")"
        elif may_lack "$package" "$name"; then
            say "$package: $name is missing on the mirror; going on without it"
        else
            die "$name could not be fetched: $(grep -E '^(E|Err):' "$work/logs/$package.fetch.log" | head -n 3)"
        fi
    done < <(dsc_checksums "$dsc")
    ((status == 0)) || [[ -n ${may_be_missing[$package]:-} ]] ||
        die "apt-get source $package failed: $(tail -n 3 "$work/logs/$package.fetch.log")"
}

# unpack PACKAGE: the patched sources in $src.
unpack() {
    local package=$1 downloads=$work/downloads/$1
    src=$work/src/$package
    rm -rf "$src"
    mkdir -p "$work/src"
    if dpkg-source -x "$dsc" "$src" >"$work/logs/$package.unpack.log" 2>&1; then
        return
    fi
    # dpkg-source wants every file of the .dsc: with one missing, unpack
    # the (checked) tarballs and apply Debian's patch series by hand.
    rm -rf "$src"
    mkdir -p "$src"
    local orig debian
    orig=$(find "$downloads" -maxdepth 1 -name '*.orig.tar.*' ! -name '*.asc' | head -n 1)
    debian=$(find "$downloads" -maxdepth 1 -name '*.debian.tar.*' | head -n 1)
    [[ -n $orig ]] || die "$package: no upstream tarball"
    tar -xf "$orig" -C "$src" --strip-components=1
    if [[ -n $debian ]]; then
        tar -xf "$debian" -C "$src"
    fi
    local series=$src/debian/patches/series line patch_name options
    if [[ -f $series ]]; then
        while read -r line; do
            line=${line%%#*}
            read -r patch_name options <<<"$line"
            [[ -n ${patch_name:-} ]] || continue
            # shellcheck disable=SC2086
            patch -d "$src" -s -N ${options:--p1} -i "$src/debian/patches/$patch_name" ||
                die "$package: Debian's patch $patch_name does not apply"
        done <"$series"
    fi
}

# ---------------------------------------------------------------- stamps

# The recipe of a package: its build function, the common steps and
# toolchain, and the stamps of the packages built before it (libogg built
# another way rebuilds everything that links it).
recipe() {
    local package=$1 before
    declare -f "build_${package//-/_}" cmake_build write_toolchain
    echo "${may_be_missing[$package]:-}"
    for before in "${packages[@]}"; do
        [[ $before == "$package" ]] && break
        cat "$stamps/$before" 2>/dev/null || true
    done | sha256sum
}

built() {  # the stamp says this recipe was built, and its terms are kept
    [[ -f $stamps/$1 ]] && [[ $(sed 1d "$stamps/$1") == "$(recipe "$1")" ]] &&
        [[ -s $prefix/share/licenses/$1/copyright ]]
}

# keep_terms PACKAGE: the library is linked into the Windows programs, so its
# copyright and licence go into the Windows package beside them: Debian's
# summary of them (debian/copyright), or where the mirror lacked Debian's
# part of the sources, the upstream licence files.
keep_terms() {
    local into=$prefix/share/licenses/$1 file
    rm -rf "$into"
    mkdir -p "$into"
    if [[ -s $src/debian/copyright ]]; then
        cp "$src/debian/copyright" "$into/copyright"
        return
    fi
    for file in "$src"/COPYING* "$src"/LICENSE* "$src"/LICENCE*; do
        [[ -s $file ]] && cat "$file" >>"$into/copyright"
    done
    [[ -s $into/copyright ]] || die "$1: its sources hold neither debian/copyright nor a licence file"
}

# ---------------------------------------------------------------- the check

# A program that calls each library, linked statically as the project links
# them: it must link, and import no DLL beyond the system's own.
check_prefix() {
    local check=$work/check
    rm -rf "$check"
    mkdir -p "$check"
    cat >"$check/check.c" <<'EOF'
#include <ebur128.h>
#include <kiss_fft.h>
#include <sndfile.h>
#include <soxr.h>
#include <stdio.h>

int main(void)
{
    int major, minor, patch;
    ebur128_get_version(&major, &minor, &patch);
    kiss_fft_free(kiss_fft_alloc(64, 0, NULL, NULL));
    printf("%s, %s, ebur128 %d.%d.%d\n", sf_version_string(), soxr_version(), major, minor, patch);
    return 0;
}
EOF
    local modules=(sndfile soxr libebur128 kissfft-float)
    # shellcheck disable=SC2046
    "$triplet-gcc-posix" -static -o "$check/check.exe" "$check/check.c" $(pkg-config --static --cflags "${modules[@]}") \
        $(pkg-config --static --libs "${modules[@]}") >"$work/logs/check.log" 2>&1 ||
        die "a program calling every library does not link: $(head -n 20 "$work/logs/check.log")"
    local imports dll
    imports=$("$triplet-objdump" -p "$check/check.exe" | sed -n 's/^\s*DLL Name: //p' | sort -f | tr '\n' ' ')
    for dll in $imports; do
        [[ ${dll,,} == @(kernel32|msvcrt|shlwapi).dll ]] ||
            die "a program linked with the libraries imports $dll (only KERNEL32, msvcrt and SHLWAPI expected)"
    done
    say "checked: a program calling every library links statically and imports only $imports"
}

# ---------------------------------------------------------------- the run

mkdir -p "$stamps" "$work/logs"
write_toolchain
started=$SECONDS
built_any=false
for package in "${packages[@]}"; do
    if built "$package"; then
        continue
    fi
    package_started=$SECONDS
    rm -f "$stamps/$package"
    fetch "$package"
    unpack "$package"
    debian_version=$(basename "$dsc" .dsc)
    debian_version=${debian_version#"${package}_"}
    upstream_version=${debian_version%-*}
    upstream_version=${upstream_version%+*}
    log=$work/logs/$package.build.log
    build=$work/build/$package
    rm -rf "$build"
    mkdir -p "$build"
    say "$package $debian_version: building (log: $log)"
    # In the background so that errexit holds inside (an "if" would lift it).
    (cd "$build" && "build_${package//-/_}") >"$log" 2>&1 &
    if ! wait $!; then
        tail -n 30 "$log" >&2
        die "$package $debian_version did not build: see $log"
    fi
    keep_terms "$package"
    { echo "$package $debian_version" && recipe "$package"; } >"$stamps/$package"
    # Installed: its sources and objects are not needed again (the log stays).
    rm -rf "$build" "$src"
    say "$package $debian_version: built in $((SECONDS - package_started)) s"
    built_any=true
done
# The next run that needs sources reads the lists afresh.
rm -rf "$work/apt"
if $built_any || [[ ! -f $stamps/check ]]; then
    check_prefix
    touch "$stamps/check"
    say "all built into $prefix in $((SECONDS - started)) s"
else
    say "already built in $prefix"
fi
