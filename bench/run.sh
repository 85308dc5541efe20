#!/usr/bin/env bash
# Runs the benchmarks of the build folder given as $1 (configure with
# -DCMAKE_BUILD_TYPE=Release and build the qvt and bench_crc targets first).
# Add further benchmarks below, one block each.
set -euo pipefail
build="${1:?usage: bench/run.sh BUILD_DIR}"

echo "== CRC-32 and cipher throughput"
"$build/bench/bench_crc"

echo "== merge and inflate against 7-Zip, cat and unzip"
"$(dirname "$0")/merge_bench.sh" "$build"

echo "== split and deflate against 7-Zip, split and zip"
"$(dirname "$0")/split_bench.sh" "$build"
