#!/usr/bin/env bash
# Splitting a file into stored volumes, side by side with 7-Zip and with
# split(1), and deflating one file against Info-ZIP zip.
#
#   bench/split_bench.sh BUILD_DIR [SIZE_MIB]
#
# BUILD_DIR holds cli/qvt. SIZE_MIB (default 1024) is the size of
# the incompressible file, cut into 100 MiB volumes. Every tool reads the
# same file, warm in the page cache, and writes into the same file system;
# each one runs three times and its best time counts. Ours also flushes its
# last volume to the disk, as the window's split does; the others do not.
set -euo pipefail
build="${1:?usage: bench/split_bench.sh BUILD_DIR [SIZE_MIB]}"
size_mib="${2:-1024}"
qvt="$build/cli/qvt"
[ -x "$qvt" ] || { echo "split_bench: build the qvt target in $build first" >&2; exit 2; }
. "$(dirname "$0")/lib.sh"
bench_start split 7zz zip unzip split /usr/bin/time

mib="$size_mib"
echo "== split: $size_mib MiB, incompressible, into 100 MiB stored volumes"
head -c "$((size_mib << 20))" /dev/urandom >"$work/source.bin"
cat "$work/source.bin" >/dev/null # warm the page cache

measure "qvt split -s 100M (ours)" - "$qvt" split "$work/source.bin" -s 100M -o "$work/out/source.qvt" -q
ours_t="$best_time" ours_m="$best_mem"
# The set of the last run, checked by 7-Zip under its own names.
n="$(link_7zip_names "$work/out" "$work/check")"
7zz t "$work/check/source.zip" >/dev/null || { echo "split_bench: 7-Zip rejects our set" >&2; exit 1; }
echo "  our set: $n volumes, accepted by 7zz t"
rm -rf "$work/check"

measure "7zz a -tzip -mx0 -v100m" - 7zz a -bd -tzip -mx0 -v100m "$work/out/source.zip" "$work/source.bin"
sz_t="$best_time"
# split(1) is the floor: the same bytes read and written, no headers, no CRC.
measure "split -b 100M" - split -b 100M "$work/source.bin" "$work/out/part."
split_t="$best_time"

echo "  ratios: ours/7zz $(ratio "$ours_t" "$sz_t"), ours/split $(ratio "$ours_t" "$split_t")"
verdict "split" "ours <= 7zz" "$ours_t <= $sz_t"
verdict "split" "ours <= 1.2 x split" "$ours_t <= 1.2 * $split_t"
verdict "split" "peak memory < 64 MiB" "$ours_m < 65536"
rm -rf "$work/out" "$work/source.bin"

echo "== deflate: one text file at level 6"
make_text "$work/text.log" "$size_mib"
mib="$(awk -v b="$(stat -c %s "$work/text.log")" 'BEGIN { print b / 1048576 }')"
# One volume larger than the file: a single archive file, as zip writes.
one_volume="$(( ($(stat -c %s "$work/text.log") >> 20) + 1 ))"
measure "qvt split -l 6 (ours)" - "$qvt" split "$work/text.log" -s "$one_volume" -l 6 -o "$work/out/text.zip" -q
ours_t="$best_time"
unzip -tq "$work/out/text.zip" >/dev/null || { echo "split_bench: unzip rejects our archive" >&2; exit 1; }
ours_size="$(stat -c %s "$work/out/text.zip")"
measure "zip -6" - zip -q -6 -j "$work/out/text.zip" "$work/text.log"
zip_t="$best_time"
zip_size="$(stat -c %s "$work/out/text.zip")"
echo "  $(stat -c %s "$work/text.log") bytes; ours $ours_size, zip -6 $zip_size bytes"
echo "  ratios: time ours/zip $(ratio "$ours_t" "$zip_t"), size ours/zip $(ratio "$ours_size" "$zip_size")"
verdict "deflate" "ours <= zip -6" "$ours_t <= $zip_t"
