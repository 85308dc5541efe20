# What the benchmark scripts share. Source it after setting $work (a scratch
# folder) and $runs; $mib is the size the throughput is counted on.

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
