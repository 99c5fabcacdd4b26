#!/usr/bin/env bash
# Whole-process time of cvshell, measured with hyperfine.
#
# Every login starts one shell process, so what a user waits for is the whole
# process: start-up, the log, loading the configuration, judging the command
# and, for an accepted command, starting the tool and waiting for it.  This
# script times four cases side by side against /bin/true as the floor (the
# cost of starting any process at all):
#   refused   cvshell -c "sh -c id"                 (exit status 1 by design)
#   accepted  cvshell -c "cvcp -S. -V1" </dev/null  (runs the stand-in tool)
#   forced    SSH_ORIGINAL_COMMAND="cvcp -S. -V1" cvshell -t </dev/null
# and prints each median with its ratio to the floor.  It measures; it does
# not pass or fail on a time.
#
# hyperfine starts each command itself (--shell=none): an intermediate shell
# would cost more than the floor and drown it in calibration noise.  So the
# whole run gets SSH_ORIGINAL_COMMAND in its environment, as a forced-command
# login does, and standard input from /dev/null; the shell reads the variable
# only in the forced form (-t), so the -c cases are not affected by it.
#
# Usage: bench/shell_bench.sh [PREFIX]
#   PREFIX  a staged installation (default build/example-install, staged by
#           cmake --install build --prefix build/example-install)
# Environment: CV_BENCH_RUNS (default 300), CV_BENCH_WARMUP (default 20).
# Results: build/bench/shell.json (hyperfine's export).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$top/build/example-install}
prefix=$(cd "$prefix" 2>/dev/null && pwd) || {
    echo "shell_bench: no installation at ${1:-$top/build/example-install}" >&2
    exit 2
}
shell="$prefix/bin/cvshell"
runs=${CV_BENCH_RUNS:-300}
warmup=${CV_BENCH_WARMUP:-20}
outdir="$top/build/bench"
json="$outdir/shell.json"

if [[ ! -x $shell ]]; then
    echo "shell_bench: $shell is missing; stage an installation first" >&2
    exit 2
fi
if ! command -v hyperfine >/dev/null; then
    echo "shell_bench: installing hyperfine" >&2
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq hyperfine >/dev/null
fi
mkdir -p "$outdir"

# What an SSH server hands a login: a small, clean environment.  Running the
# whole benchmark in it keeps the figures independent of the caller's
# environment (its size alone changes the cost of starting a process).
login_env=(env -i "PATH=/usr/local/bin:/usr/bin:/bin" "HOME=${HOME:-/tmp}"
           "USER=$(id -un)" "SSH_CONNECTION=203.0.113.5 50122 198.51.100.10 22"
           "SSH_ORIGINAL_COMMAND=cvcp -S. -V1")

q_shell=$(printf '%q' "$shell")
names=(floor refused accepted forced)
commands=(
    "/bin/true"
    "$q_shell -c 'sh -c id'"
    "$q_shell -c 'cvcp -S. -V1'"
    "$q_shell -t"
)
expected_status=(0 1 0 0)

# --ignore-failure applies to every command, and the refused case exits with
# 1 by design; so first make sure that each case ends the way it should, or
# the figures would time a configuration error instead of a login.
for i in "${!commands[@]}"; do
    set +e
    "${login_env[@]}" sh -c "${commands[$i]}" </dev/null >/dev/null 2>&1
    status=$?
    set -e
    if [[ $status -ne ${expected_status[$i]} ]]; then
        echo "shell_bench: case ${names[$i]} exited with $status, expected ${expected_status[$i]}:" >&2
        echo "  ${commands[$i]}" >&2
        exit 1
    fi
done

hyperfine_args=(--shell=none --warmup "$warmup" --runs "$runs"
                --ignore-failure --export-json "$json")
for i in "${!commands[@]}"; do
    hyperfine_args+=(--command-name "${names[$i]}" "${commands[$i]}")
done
"${login_env[@]}" "$(command -v hyperfine)" "${hyperfine_args[@]}" </dev/null

python3 - "$json" "${expected_status[@]}" <<'PY'
import json
import sys

results = json.load(open(sys.argv[1]))["results"]
expected = [int(s) for s in sys.argv[2:]]
floor = results[0]["median"]
print()
print(f"{'case':<10} {'median ms':>10} {'x floor':>8}")
for r in results:
    print(f"{r['command']:<10} {r['median'] * 1000:>10.3f} {r['median'] / floor:>8.2f}")
# --ignore-failure hides every exit status: name the runs that ended
# otherwise than their case should.
for r, want in zip(results, expected):
    odd = [c for c in r.get("exit_codes", []) if c != want]
    if odd:
        print(f"warning: {len(odd)} runs of {r['command']} exited otherwise than {want}")
print(f"\nresults: {sys.argv[1]}")
PY
