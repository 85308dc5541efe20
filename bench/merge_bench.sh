#!/usr/bin/env bash
# Merging a set of stored volumes, side by side with 7-Zip and with cat, and
# inflating one deflated item against unzip.
#
#   bench/merge_bench.sh BUILD_DIR [SIZE_MIB]
#
# BUILD_DIR holds bench/bench_merge, and bench/bench_split or cli/qvt, which
# make the set the way the window splits (without either, the set comes from
# "zip -s 100m -0", renamed to our names). SIZE_MIB (default 1024) is the size of the file, cut into
# 100 MiB volumes. Every tool reads the same volumes, warm in the page cache,
# and writes into the same file system; each one runs three times and its
# best time counts. The output is compared with the source every time.
set -euo pipefail
build="${1:?usage: bench/merge_bench.sh BUILD_DIR [SIZE_MIB]}"
size_mib="${2:-1024}"
merge="$build/bench/bench_merge"
split="$build/bench/bench_split"
qvt="$build/cli/qvt"
[ -x "$merge" ] || { echo "merge_bench: build the bench_merge target in $build first" >&2; exit 2; }
. "$(dirname "$0")/lib.sh"
bench_start merge 7zz zip unzip /usr/bin/time

mib="$size_mib"
echo "== merge: $size_mib MiB in 100 MiB stored volumes"
head -c "$((size_mib << 20))" /dev/urandom >"$work/source.bin"

# Our set, under our names: source_001.qvt ... source.qvt.
mkdir -p "$work/ours"
if [ -x "$split" ]; then
  "$split" "$work/source.bin" "$work/ours/source.qvt" 100 >/dev/null
  made_by="bench_split"
elif [ -x "$qvt" ]; then
  "$qvt" split "$work/source.bin" -s 100M -l 0 -o "$work/ours/source.qvt" -q
  made_by="qvt split"
else
  (cd "$work/ours" && zip -q -0 -j -s 100m source.zip ../source.bin)
  n=1
  for part in "$work/ours"/source.z[0-9][0-9]; do
    mv "$part" "$work/ours/$(printf 'source_%03d.qvt' "$n")"
    n=$((n + 1))
  done
  mv "$work/ours/source.zip" "$work/ours/source.qvt"
  made_by="zip -s 100m -0, renamed"
fi
volumes=("$work"/ours/source_*.qvt "$work/ours/source.qvt")
echo "  set made by $made_by: ${#volumes[@]} volumes"

# The same set under 7-Zip's names for a split ZIP: source.z01 ... source.zip.
link_7zip_names "$work/ours" "$work/7z" >/dev/null
cat "${volumes[@]}" >/dev/null # warm the page cache

measure "bench_merge (ours)" "$work/source.bin" "$merge" "$work/ours/source.qvt" "$work/out"
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

echo "  ratios: ours/7zz $(awk -v a="$ours_t" -v b="$sz_t" 'BEGIN { printf "%.2f", a / b }')," \
  "ours/cat $(awk -v a="$ours_t" -v b="$cat_t" 'BEGIN { printf "%.2f", a / b }')," \
  "ours/dd $(awk -v a="$ours_t" -v b="$dd_t" 'BEGIN { printf "%.2f", a / b }')"
verdict "merge" "ours <= 7zz" "$ours_t <= $sz_t"
verdict "merge" "ours <= 1.2 x cat" "$ours_t <= 1.2 * $cat_t"
verdict "merge" "peak memory < 64 MiB" "$ours_m < 65536"

rm -rf "$work/ours" "$work/7z"

echo "== inflate: one deflated item"
# Text that deflates about 2:1.
python3 - "$work/text.log" "$size_mib" <<'EOF'
import random, sys
path, mib = sys.argv[1], int(sys.argv[2]) // 4
rnd = random.Random(1)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 9))) for _ in range(5000)]
with open(path, 'w') as f:
    written = 0
    while written < mib << 20:
        line = ' '.join(rnd.choice(words) for _ in range(12)) + '\n'
        f.write(line)
        written += len(line)
EOF
(cd "$work" && zip -q -6 text.zip text.log)
mib="$(awk -v b="$(stat -c %s "$work/text.log")" 'BEGIN { print b / 1048576 }')"
echo "  $(stat -c %s "$work/text.log") bytes, deflated to $(stat -c %s "$work/text.zip")"
measure "bench_merge (ours)" "$work/text.log" "$merge" "$work/text.zip" "$work/out"
ours_t="$best_time"
measure "unzip" "$work/text.log" unzip -q -o "$work/text.zip" -d "$work/out"
unzip_t="$best_time"
echo "  ratio: ours/unzip $(awk -v a="$ours_t" -v b="$unzip_t" 'BEGIN { printf "%.2f", a / b }')"
verdict "inflate" "ours <= unzip" "$ours_t <= $unzip_t"
