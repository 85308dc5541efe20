#!/bin/sh
# Builds the fuzz targets with clang++ and libFuzzer (ASan + UBSan) from the
# archiver's sources. Usage: fuzz/build.sh [output folder]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/build-fuzz}
CXX=${CXX_FUZZ:-clang++}
JOBS=${JOBS:-2}
FLAGS="-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined -I$ROOT"

mkdir -p "$OUT/obj"
# Every source of the library, compiled directly (no CMake: the library is
# built once more with the fuzzer's instrumentation).
find "$ROOT/platform" "$ROOT/primitives" "$ROOT/archiver" "$ROOT/container" \
     "$ROOT/volumes" "$ROOT/writing" "$ROOT/reading" -name '*.cpp' | sort > "$OUT/sources.txt"
: > "$OUT/objects.txt"
while read -r src; do
    rel=${src#"$ROOT"/}
    echo "$OUT/obj/$(echo "$rel" | tr '/' '_').o" >> "$OUT/objects.txt"
done < "$OUT/sources.txt"

paste -d' ' "$OUT/sources.txt" "$OUT/objects.txt" | \
    xargs -P "$JOBS" -L 1 sh -c '
        src=$0; obj=$1
        # Rebuild when the source or any header of the tree is newer.
        if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find "'"$ROOT"'" -name "*.h" -newer "$obj" -not -path "*/build*" -not -path "'"$ROOT"'/fuzz/*" | head -n 1)" ]; then
            '"$CXX $FLAGS"' -fsanitize=fuzzer-no-link -c "$src" -o "$obj" || exit 255
        fi'

$CXX $FLAGS -fsanitize=fuzzer "$ROOT/fuzz/fuzz_open.cpp" $(cat "$OUT/objects.txt") -lz -o "$OUT/fuzz_open"
echo "built $OUT/fuzz_open"
