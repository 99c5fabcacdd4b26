#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build that fails on any report.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

jobs=$(nproc)

echo "== normal build"
"$top/scripts/build.sh" "$top/build" normal
(cd "$top/build" && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build (ASan + UBSan)"
"$top/scripts/build.sh" "$top/build-asan" sanitize
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd "$top/build-asan" && ctest --output-on-failure -j "$jobs")

echo "== fuzzing (libFuzzer, bounded)"
"$top/scripts/fuzz.sh"
