#!/usr/bin/env bash
# Builds the Debian packages in a release build directory (libquenpix0, libquenpix-dev and
# quenpix), unpacks them into a scratch root and checks their control fields, their contents,
# the installed tools on a round trip and a program built against the installed library.
# Usage: tests/package/check_package.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 BUILD_DIR (a configured and built release build directory)" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=$(cd "$1" && pwd)
image="$source_dir/tests/data/public/p20_photo_300x240.bmp"
upstream_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
version="$upstream_version-1"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
python=$(sed -n 's/^QUENPIX_BUILD_PYTHON:BOOL=//p' "$build_dir/CMakeCache.txt")
packages=(libquenpix0 libquenpix-dev quenpix)
[ "$python" = ON ] && packages+=(python3-quenpix)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

passed=0
failed=0
pass() {
    passed=$((passed + 1))
    echo "ok: $1"
}
fail() {
    failed=$((failed + 1))
    echo "FAILED: $1" >&2
}
# expect WHAT COMMAND...: WHAT holds when COMMAND succeeds.
expect() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}
finish() {
    echo "package: $passed passed, $failed failed"
    if [ "$failed" -eq 0 ]; then exit 0; fi
    exit 1
}

if [ -z "$upstream_version" ] || [ -z "$libdir" ]; then
    fail "the build directory records the project version"
    finish
fi

# The package goes to the scratch directory, so that the build directory stays as it was.
if ! (cd "$build_dir" && cpack -G DEB -B "$scratch/package") >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB builds the package"
    finish
fi
debs=("$scratch"/package/*.deb)
if [ ${#debs[@]} -ne ${#packages[@]} ]; then
    fail "cpack -G DEB writes ${#packages[@]} packages (found: ${debs[*]})"
    finish
fi
pass "cpack -G DEB builds $(cd "$scratch/package" && echo *.deb)"

# Control fields of each package: name, version, section, maintainer, a described synopsis.
declare -A section=([libquenpix0]=libs [libquenpix-dev]=libdevel [quenpix]=graphics
    [python3-quenpix]=python)
for name in "${packages[@]}"; do
    deb="$scratch/package/${name}_${version}_amd64.deb"
    if [ ! -f "$deb" ]; then
        fail "package $name is built"
        continue
    fi
    field() { dpkg-deb -f "$deb" "$1"; }
    expect_equal "$name: package name" "$name" "$(field Package)"
    expect_equal "$name: version is the project version, first packaging" "$version" "$(field Version)"
    expect_equal "$name: maintainer" "Quenpix developers <quenpix@example.org>" "$(field Maintainer)"
    expect_equal "$name: section" "${section[$name]}" "$(field Section)"
    expect "$name: the description has a synopsis and a body" \
        test "$(field Description | wc -l)" -ge 2
done
expect_equal "libquenpix-dev depends on exactly this libquenpix0" "libquenpix0 (= $version)" \
    "$(dpkg-deb -f "$scratch/package/libquenpix-dev_${version}_amd64.deb" Depends)"

# The shared library needs nothing but the C and C++ runtimes, the tools libpng besides (for
# PNG output): anything else means a library leaked into the link.
declare -A allowed=([libquenpix0]='libc6|libgcc-s1|libstdc\+\+6'
    [quenpix]='libc6|libgcc-s1|libstdc\+\+6|libpng16-16|zlib1g')
for name in libquenpix0 quenpix; do
    depends=$(dpkg-deb -f "$scratch/package/${name}_${version}_amd64.deb" Depends)
    # One package name a line, without versions; alternatives count as names too.
    dependency_names=$(echo "$depends" | tr ',|' '\n' | sed 's/(.*)//; s/[[:space:]]//g' |
        grep -v '^$' | LC_ALL=C sort -u)
    for runtime in libc6 'libstdc++6'; do
        expect "$name: Depends ($depends) names $runtime" grep -qxF "$runtime" <<<"$dependency_names"
    done
    expect_equal "$name: Depends names nothing beyond ${allowed[$name]}" "" \
        "$(grep -vxE "${allowed[$name]}" <<<"$dependency_names" || true)"
done

# Contents of each package.
contents() {
    dpkg-deb -c "$scratch/package/${1}_${version}_amd64.deb" | awk '$1 !~ /^d/ { print $6 }' |
        LC_ALL=C sort
}
# The expected lists, sorted as the contents are.
sorted() { LC_ALL=C sort <<<"$1"; }
docs() { printf './usr/share/doc/%s/changelog.Debian.gz\n./usr/share/doc/%s/copyright' "$1" "$1"; }
expect_equal "libquenpix0 contents" "$(sorted "$(docs libquenpix0)
./usr/$libdir/libquenpix.so.0
./usr/$libdir/libquenpix.so.$upstream_version")" "$(contents libquenpix0)"
expect_equal "libquenpix-dev contents" "$(sorted "./usr/include/quenpix/quenpix.h
./usr/include/quenpix/quenpix.hpp
$(docs libquenpix-dev)
./usr/$libdir/cmake/quenpix/quenpixConfig.cmake
./usr/$libdir/cmake/quenpix/quenpixConfigVersion.cmake
./usr/$libdir/cmake/quenpix/quenpixTargets-release.cmake
./usr/$libdir/cmake/quenpix/quenpixTargets.cmake
./usr/$libdir/libquenpix.a
./usr/$libdir/libquenpix.so
./usr/$libdir/pkgconfig/quenpix.pc")" "$(contents libquenpix-dev)"
expect_equal "quenpix contents" "$(sorted "./usr/bin/quenpix
./usr/bin/quenpix-decode
./usr/share/doc/quenpix/API.md
./usr/share/doc/quenpix/FORMAT.md
./usr/share/doc/quenpix/README.md
$(docs quenpix)
./usr/share/man/man1/quenpix-decode.1.gz
./usr/share/man/man1/quenpix.1.gz")" "$(contents quenpix)"
expect "libquenpix0 records its SONAME for dpkg-shlibdeps" \
    grep -q '^libquenpix 0 libquenpix0' <(dpkg-deb -I "$scratch/package/libquenpix0_${version}_amd64.deb" shlibs)
expect "libquenpix0 runs ldconfig by trigger, with no maintainer scripts" \
    test "$(dpkg-deb -I "$scratch/package/libquenpix0_${version}_amd64.deb" triggers)" = "activate-noawait ldconfig"

# Lintian, where installed: clean but for what a package built here cannot have (an upload that
# closes the bug asking for the package).
if command -v lintian >/dev/null; then
    lintian_tags=$(lintian --tag-display-limit 0 "${debs[@]}" 2>/dev/null |
        grep -E '^[EW]: ' | grep -v 'initial-upload-closes-no-bugs' || true)
    expect_equal "lintian reports no errors or warnings" "" "$lintian_tags"
else
    echo "skipped: lintian is not installed"
fi

root="$scratch/root"
for deb in "${debs[@]}"; do
    if ! dpkg -x "$deb" "$root"; then
        fail "dpkg -x unpacks $(basename "$deb")"
        finish
    fi
done
encoder="$root/usr/bin/quenpix"
decoder="$root/usr/bin/quenpix-decode"
expect "the installed encoder is executable" test -x "$encoder"
expect "the installed decoder is executable" test -x "$decoder"

expect_equal "quenpix-decode --version prints the project version" \
    "quenpix-decode $upstream_version" "$("$decoder" --version 2>&1 || true)"

# Round trip with the installed tools; the decoder picks its default output name.
work="$scratch/work"
mkdir "$work"
status=0
"$encoder" "$image" "$work/photo.lsg" >"$work/encode.out" 2>"$work/encode.err" || status=$?
expect_equal "quenpix exits 0 on the test image" 0 "$status"
expect "quenpix writes photo.lsg and its side file photo.pls" \
    test -s "$work/photo.lsg" -a -s "$work/photo.pls"
expect "quenpix prints its report" grep -q '^Zamineno: ' "$work/encode.out"

status=0
"$decoder" -t "$work/photo.lsg" >/dev/null 2>"$work/verify.err" || status=$?
expect_equal "quenpix-decode -t verifies the file" 0 "$status"
expect "quenpix-decode -t writes nothing" test ! -e "$work/photo.bmp" -a ! -e "$work/photo.bmp.part"

status=0
"$decoder" "$work/photo.lsg" >/dev/null 2>"$work/decode.err" || status=$?
# The installed decoder writes PNG through the system's libpng.
png_status=0
"$decoder" "$work/photo.lsg" "$work/photo.png" >/dev/null 2>&1 || png_status=$?
expect_equal "quenpix-decode writes a PNG file" 0 "$png_status"
expect "the PNG file is one" sh -c "head -c 8 '$work/photo.png' | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a'"
expect_equal "quenpix-decode exits 0" 0 "$status"
expect "quenpix-decode writes photo.bmp beside the input" test -s "$work/photo.bmp"
expect "the decoded bitmap has the pixels of the original" \
    python3 "$here/same_pixels.py" "$image" "$work/photo.bmp"
# The test image is a plain bottom-up bitmap at 72 dpi, the very form that the decoder writes.
expect "the decoded bitmap is the original byte for byte" cmp "$image" "$work/photo.bmp"
for run in encode verify decode; do
    expect_equal "the $run run prints nothing on standard error" "" "$(cat "$work/$run.err")"
done

# Manual pages, as installed.
for page in quenpix quenpix-decode; do
    file="$root/usr/share/man/man1/$page.1.gz"
    rendered="$scratch/$page.txt"
    warnings="$scratch/$page.warnings"
    if LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat man -l "$file" >"$rendered" 2>"$warnings"; then
        pass "man -l renders $page.1"
    else
        fail "man -l renders $page.1"
    fi
    zcat "$file" | groff -man -Tutf8 -ww -z 2>>"$warnings" || true
    expect_equal "$page.1 renders without warnings" "" "$(cat "$warnings")"
    missing=""
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' LIMITS EXAMPLES; do
        grep -qxF "$section" "$rendered" || missing+="$section; "
    done
    expect_equal "$page.1 has every section" "" "$missing"
    expect "$page.1 names its tool" grep -qE "^ +$page - " "$rendered"
done

# The Python package, imported from where it was unpacked, with the system's NumPy and Pillow.
if [ "$python" = ON ]; then
    python_dir="$root/usr/lib/python3/dist-packages"
    expect "python3-quenpix holds the package quenpix" test -f "$python_dir/quenpix/__init__.py"
    expect "python3-quenpix depends on python3-numpy" \
        grep -q python3-numpy <<<"$(dpkg-deb -f "$scratch/package/python3-quenpix_${version}_amd64.deb" Depends)"
    expect "the installed Python package round-trips an image and opens it in Pillow" \
        env PYTHONPATH="$python_dir" /usr/bin/python3 -c "
import numpy, quenpix, quenpix.pillow
from PIL import Image
pixels = numpy.asarray(Image.open('$image').convert('RGB'))
assert (quenpix.decode(*quenpix.encode(pixels)) == pixels).all()
quenpix.write('$scratch/py.lsg', pixels)
assert (numpy.asarray(Image.open('$scratch/py.lsg')) == pixels).all()
assert quenpix.__version__ == '$upstream_version'
"
fi

# A program built against the unpacked library through its pkg-config file.
example="$scratch/example"
if flags=$(PKG_CONFIG_SYSROOT_DIR="" PKG_CONFIG_PATH="$root/usr/$libdir/pkgconfig" \
    pkg-config --cflags --libs quenpix) &&
    cc -std=c11 "$source_dir/examples/encode_decode.c" $flags -o "$example" 2>"$scratch/cc.log"; then
    pass "the example builds against the packaged library"
    expect "the example runs on the packaged shared library" \
        sh -c "cd '$scratch' && LD_LIBRARY_PATH='$root/usr/$libdir' '$example' '$scratch/example' 2>/dev/null | grep -q 'every pixel came back'"
else
    cat "$scratch/cc.log" >&2
    fail "the example builds against the packaged library"
fi

finish
