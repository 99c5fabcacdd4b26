#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh DIR [normal|sanitize]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$top/build"}
kind=${2:-normal}

args=(-G Ninja -S "$top" -B "$dir")
if [[ $kind == sanitize ]]; then
    args+=(-DCV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
           -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
else
    args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
