#!/usr/bin/env bash
# Merging a set of stored volumes, side by side with 7-Zip and with cat, and
# inflating one deflated item against unzip.
#
#   bench/merge_bench.sh BUILD_DIR [SIZE_MIB]
#
# BUILD_DIR holds cli/qvt, which makes the set the way the window splits and
# merges it back. SIZE_MIB (default 1024) is the size of the file, cut into
# 100 MiB volumes. Every tool reads the same volumes, warm in the page cache,
# and writes into the same file system; each one runs three times and its
# best time counts. The output is compared with the source every time.
set -euo pipefail
build="${1:?usage: bench/merge_bench.sh BUILD_DIR [SIZE_MIB]}"
size_mib="${2:-1024}"
qvt="$build/cli/qvt"
[ -x "$qvt" ] || { echo "merge_bench: build the qvt target in $build first" >&2; exit 2; }
. "$(dirname "$0")/lib.sh"
bench_start merge 7zz zip unzip /usr/bin/time

mib="$size_mib"
echo "== merge: $size_mib MiB in 100 MiB stored volumes"
head -c "$((size_mib << 20))" /dev/urandom >"$work/source.bin"

# Our set, under our names: source_001.qvt ... source.qvt, and the same set
# under 7-Zip's names for a split ZIP.
mkdir -p "$work/ours"
"$qvt" split "$work/source.bin" -s 100M -o "$work/ours/source.qvt" -q
volumes=("$work"/ours/source_*.qvt "$work/ours/source.qvt")
echo "  set made by qvt split: ${#volumes[@]} volumes"
link_7zip_names "$work/ours" "$work/7z" >/dev/null
cat "${volumes[@]}" >/dev/null # warm the page cache

measure "qvt merge (ours)" "$work/source.bin" "$qvt" merge "$work/ours/source.qvt" -d "$work/out" -q
ours_t="$best_time" ours_m="$best_mem"
measure "7zz x" "$work/source.bin" 7zz x -bd -y -o"$work/out" "$work/7z/source.zip"
sz_t="$best_time"
# cat of the volumes is the floor: the same bytes read and written, no
# headers skipped and no CRC. GNU cat copies with copy_file_range, inside
# the kernel, as ours splices its stored items (reading them once more on
# the second core for the CRC); dd with 1 MiB blocks is what a program
# costs that reads the bytes into its own memory and writes them from there.
measure "cat of the volumes" - sh -c 'out="$1"; shift; cat "$@" > "$out"' sh "$work/out/joined" "${volumes[@]}"
cat_t="$best_time"
measure "dd bs=1M of the volumes" - sh -c 'out="$1"; shift; for v in "$@"; do dd if="$v" bs=1M status=none; done > "$out"' sh "$work/out/joined" "${volumes[@]}"
dd_t="$best_time"

echo "  ratios: ours/7zz $(ratio "$ours_t" "$sz_t"), ours/cat $(ratio "$ours_t" "$cat_t"), ours/dd $(ratio "$ours_t" "$dd_t")"
verdict "merge" "ours <= 7zz" "$ours_t <= $sz_t"
verdict "merge" "ours <= 1.2 x cat" "$ours_t <= 1.2 * $cat_t"
verdict "merge" "peak memory < 64 MiB" "$ours_m < 65536"

rm -rf "$work/ours" "$work/7z"

echo "== inflate: one deflated item"
make_text "$work/text.log" "$size_mib"
(cd "$work" && zip -q -6 text.zip text.log)
mib="$(awk -v b="$(stat -c %s "$work/text.log")" 'BEGIN { print b / 1048576 }')"
echo "  $(stat -c %s "$work/text.log") bytes, deflated to $(stat -c %s "$work/text.zip")"
measure "qvt merge (ours)" "$work/text.log" "$qvt" merge "$work/text.zip" -d "$work/out" -q
ours_t="$best_time"
measure "unzip" "$work/text.log" unzip -q -o "$work/text.zip" -d "$work/out"
unzip_t="$best_time"
echo "  ratio: ours/unzip $(ratio "$ours_t" "$unzip_t")"
verdict "inflate" "ours <= unzip" "$ours_t <= $unzip_t"
