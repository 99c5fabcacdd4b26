#!/usr/bin/env bash
# Builds the XML layer's fuzz target with clang and libFuzzer in build-fuzz
# and runs it for a bounded time on a copy of the seed corpus.  Fails on any
# crash, sanitizer report, leak or hang (an input slower than the per-input
# timeout); the input that failed is kept in build-fuzz/artifacts/.
#
# Usage: scripts/fuzz.sh [SECONDS]   (default 60; CV_FUZZ_SECONDS also works)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${CV_FUZZ_SECONDS:-60}}
build=$top/build-fuzz
jobs=${CV_FUZZ_BUILD_JOBS:-2}

cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCV_FUZZ=ON -DCV_BUILD_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
ninja -C "$build" -j"$jobs" xml_load_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/artifacts"
cp "$top/fuzz/corpus/xml/"* "$work/corpus/"

echo "Fuzzing the XML layer for ${seconds}s"
"$build/fuzz/xml_load_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
    "$work/corpus"
