#!/bin/sh
# Builds and runs the open fuzz target for a bounded time (FUZZ_TIME seconds,
# default 60; QVT_FUZZ_NO_EXTRACT=1 fuzzes opening and listing alone) from a corpus seeded with small archives made by Info-ZIP zip
# and Python's zipfile. Inputs that crash are kept in fuzz/regressions/,
# which tests/opening replays on every test run.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$ROOT/build-fuzz
TIME=${FUZZ_TIME:-60}

"$ROOT/fuzz/build.sh" "$OUT"

SEEDS=$OUT/seeds
CORPUS=$OUT/corpus
ARTIFACTS=$OUT/artifacts
mkdir -p "$SEEDS" "$CORPUS" "$ARTIFACTS" "$ROOT/fuzz/regressions"
python3 "$ROOT/fuzz/make_seeds.py" "$SEEDS"
if command -v zip >/dev/null 2>&1; then
    tmp=$(mktemp -d)
    (
        cd "$tmp"
        printf 'hello hello hello hello\n' > a.txt
        mkdir -p sub && printf 'second file\n' > sub/b.txt
        zip -q -0 "$SEEDS/zip-stored.zip" a.txt sub/b.txt
        zip -q -9 "$SEEDS/zip-deflated.zip" a.txt sub/b.txt
        zip -q -P secret "$SEEDS/zip-encrypted.zip" a.txt
        # Written to a pipe, zip cannot seek back: data descriptors follow the data.
        zip -q - a.txt sub/b.txt | cat > "$SEEDS/zip-descriptors.zip"
        printf 'archive comment' | zip -q -z "$SEEDS/zip-stored.zip"
    )
    rm -rf "$tmp"
fi

status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
"$OUT/fuzz_open" "$CORPUS" "$SEEDS" "$ROOT/fuzz/regressions" \
    -dict="$ROOT/fuzz/zip.dict" -max_total_time="$TIME" -max_len=20000 -len_control=20 \
    -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$ARTIFACTS/" -print_final_stats=1 || status=$?

# Every finding becomes a regression fixture.
for f in "$ARTIFACTS"/crash-* "$ARTIFACTS"/leak-* "$ARTIFACTS"/timeout-* "$ARTIFACTS"/oom-*; do
    [ -f "$f" ] || continue
    cp "$f" "$ROOT/fuzz/regressions/$(basename "$f")"
    echo "kept $(basename "$f") in fuzz/regressions/"
done
exit $status
