#!/usr/bin/env bash
# Builds everything, stages the bundled example installation under
# build/example-install (bin, etc, var/log) and runs cvshell there as an SSH
# server would for a login, then shows the log it wrote.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" "$top/build" normal

stage="$top/build/example-install"
rm -rf "$stage"
cmake --install "$top/build" --prefix "$stage" >/dev/null
echo "Staged installation: $stage"

set +e
"$stage/bin/cvshell"
status=$?
set -e
echo "cvshell exited with status $status"
echo "--- $stage/var/log/corvane-cvshell.log"
cat "$stage/var/log/corvane-cvshell.log"
