# What the benchmark scripts share. Source it, then call bench_start; $mib is
# the size the throughput is counted on.

# bench_start NAME TOOL...: stops unless every tool is there, makes the
# scratch folder $work (gone on exit) and sets the number of $runs.
bench_start() {
  local name="$1" tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "${name}_bench: $tool is needed" >&2; exit 2; }
  done
  work="$(mktemp -d "${TMPDIR:-/tmp}/qvt-$name-bench.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  runs=3
}

# link_7zip_names FROM TO: hard links in TO of the set source_001.qvt ...
# source.qvt in FROM under 7-Zip's names for a split ZIP, source.z01 ...
# source.zip; prints the number of volumes.
link_7zip_names() {
  local from="$1" to="$2" v n=1
  mkdir -p "$to"
  for v in "$from"/source_*.qvt; do
    ln "$v" "$to/$(printf 'source.z%02d' "$n")"
    n=$((n + 1))
  done
  ln "$from/source.qvt" "$to/source.zip"
  echo "$n"
}

# measure LABEL EXPECT COMMAND...: best elapsed seconds and the peak memory
# (KiB) of that run, in $best_time and $best_mem, of a command that writes
# into $work/out (emptied and synced before every run). Unless EXPECT is "-",
# the file $work/out/<name of EXPECT> must equal EXPECT after every run.
best_time=0
best_mem=0
measure() {
  local label="$1" expect="$2"
  shift 2
  best_time=""
  best_mem=0
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out"
    mkdir -p "$work/out"
    sync
    # Elapsed time from the clock in nanoseconds (time's own has only
    # hundredths, too coarse for runs of a fifth of a second); peak memory
    # from time.
    local start end t m
    start="$(date +%s%N)"
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null
    end="$(date +%s%N)"
    if [ "$expect" != "-" ]; then
      cmp -s "$expect" "$work/out/$(basename "$expect")" || { echo "bench: $label wrote a wrong file" >&2; exit 1; }
    fi
    read -r m <"$work/time.txt"
    t="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')"
    if [ -z "$best_time" ] || awk -v a="$t" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
      best_time="$t"
      best_mem="$m"
    fi
  done
  printf '  %-34s %7.3f s  %8.1f MiB/s  peak %6.1f MiB\n' "$label" "$best_time" \
    "$(awk -v s="$mib" -v t="$best_time" 'BEGIN { print (t > 0 ? s / t : 0) }')" \
    "$(awk -v m="$best_mem" 'BEGIN { print m / 1024 }')"
}

verdict() { # name, condition text, awk condition
  if awk "BEGIN { exit !($3) }"; then echo "  ok    $1: $2"; else echo "  SLOW  $1: $2"; fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# make_text FILE SIZE_MIB: text of about SIZE_MIB / 4 MiB (at least 1 MiB)
# that deflates about 2:1, like logs or sources.
make_text() {
  python3 - "$1" "$2" <<'EOF'
import random, sys
path, mib = sys.argv[1], max(int(sys.argv[2]) // 4, 1)
rnd = random.Random(1)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 9))) for _ in range(5000)]
with open(path, 'w') as f:
    written = 0
    while written < mib << 20:
        line = ' '.join(rnd.choice(words) for _ in range(12)) + '\n'
        f.write(line)
        written += len(line)
EOF
}
