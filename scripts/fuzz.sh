#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in build-fuzz and runs
# each for its share of a bounded time on a copy of its seed corpus: the XML
# layer (fuzz/corpus/xml), the formula evaluator (fuzz/corpus/formula) and
# the value parsers (fuzz/corpus/value_parse).  Fails on any crash,
# sanitizer report, leak or hang (an input slower than the per-input
# timeout); the input that failed is kept in build-fuzz/artifacts/.
#
# Usage: scripts/fuzz.sh [SECONDS]   (default 60 in all; CV_FUZZ_SECONDS also works)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${CV_FUZZ_SECONDS:-60}}
build=$top/build-fuzz
jobs=${CV_FUZZ_BUILD_JOBS:-2}

# target:corpus, in the order they run.
targets=(xml_load_fuzz:xml formula_fuzz:formula value_parse_fuzz:value_parse)

cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCV_FUZZ=ON -DCV_BUILD_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
ninja -C "$build" -j"$jobs" "${targets[@]%%:*}"

share=$(( seconds / ${#targets[@]} ))
(( share >= 1 )) || share=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

for entry in "${targets[@]}"; do
    target=${entry%%:*}
    corpus=${entry#*:}
    mkdir -p "$work/$corpus"
    cp "$top/fuzz/corpus/$corpus/"* "$work/$corpus/"
    echo "Fuzzing $target for ${share}s"
    "$build/fuzz/$target" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
        -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$work/$corpus"
done
