#!/usr/bin/env bash
# Installs a release build into a scratch prefix and builds the example program against the
# installed library twice, through pkg-config and through the CMake package, then runs both.
# Also checks what the shared library exports and its SONAME.
# Usage: tests/package/check_installed_library.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 BUILD_DIR (a configured and built release build directory)" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

failed=0
pass() { echo "ok: $1"; }
fail() {
    failed=$((failed + 1))
    echo "FAILED: $1" >&2
}

cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.log"
library=$(find "$prefix" -name 'libquenpix.so.*.*' | head -n 1)
libdir=$(dirname "$library")

soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
if [ "$soname" = libquenpix.so.0 ]; then pass "SONAME is libquenpix.so.0"; else fail "SONAME is '$soname'"; fi
others=$(nm -D --defined-only "$library" | awk '{ print $3 }' | grep -v '^quenpix_' || true)
if [ -z "$others" ]; then pass "only quenpix_ functions are exported"; else fail "also exported: $others"; fi
for file in "$libdir/libquenpix.a" "$libdir/libquenpix.so" "$libdir/pkgconfig/quenpix.pc" \
    "$libdir/cmake/quenpix/quenpixConfig.cmake" "$prefix/include/quenpix/quenpix.h" \
    "$prefix/include/quenpix/quenpix.hpp"; do
    if [ -e "$file" ]; then pass "installed ${file#"$prefix"/}"; else fail "missing ${file#"$prefix"/}"; fi
done

run_example() {
    local what=$1 program=$2
    if (cd "$scratch" && LD_LIBRARY_PATH="$libdir" "$program" "$scratch/$what") >"$scratch/$what.log" 2>&1 &&
        grep -q 'every pixel came back' "$scratch/$what.log"; then
        pass "the example built with $what runs"
    else
        cat "$scratch/$what.log" >&2
        fail "the example built with $what runs"
    fi
}

# pkg-config, from the installed .pc file only.
if flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs quenpix) &&
    cc -std=c11 -Wall -Wextra -Werror "$source_dir/examples/encode_decode.c" $flags \
        -o "$scratch/with-pkg-config"; then
    pass "the example builds with pkg-config"
    run_example pkg-config "$scratch/with-pkg-config"
else
    fail "the example builds with pkg-config"
fi

# The CMake package.
if cmake -S "$source_dir/examples" -B "$scratch/example-build" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$scratch/cmake.log" 2>&1 && cmake --build "$scratch/example-build" >>"$scratch/cmake.log" 2>&1; then
    pass "the example builds with find_package(quenpix)"
    run_example find_package "$scratch/example-build/encode_decode"
else
    cat "$scratch/cmake.log" >&2
    fail "the example builds with find_package(quenpix)"
fi

echo "installed library: $failed failed"
[ "$failed" -eq 0 ]
