#!/usr/bin/env bash
# What one login costs as the configuration grows: whole-process wall time,
# CPU time and peak memory of cvshell on configurations of 1,000, 10,000 and
# 100,000 users, beside xmllint on the same file as the floor.
#
# Every SSH login starts a fresh cvshell, which loads the whole configuration
# (corvane.conf and conf.d), resolves the login's settings and judges the
# command, so the file's size is paid on every login.  For each size the
# script generates a configuration (1,000 groups, one default entry, and an
# entry for the account it runs as in the middle of the users, so that the
# look-up of the login's entry is a real one), stages an installation with it
# as etc/corvane.conf and an empty etc/conf.d, and runs, CV_BENCH_RUNS times
# in alternation, each as its own process under /usr/bin/time -v in a clean,
# login-like environment:
#   xmllint   xmllint --noout FILE                    (parse and free: the floor)
#   refused   cvshell -c "sh -c id"                   (exit status 1 by design)
#   accepted  cvshell -c "cvcp -S. -V1" </dev/null    (starts the stand-in tool)
#   show      cvconf show user LOGIN                  (the administrator's view
#                                                      of the same settings)
# It prints one markdown table: the median wall and CPU (user + system) time,
# the largest peak resident size, and each case's ratios to xmllint.  It
# measures and reports; it does not fail on a figure.  It stops before
# measuring when a case does not end the way it should (a refusal that is not
# logged as one, an accepted command that fails), for the figures would then
# time something other than a login.
#
# Usage: bench/login_bench.sh [PREFIX]
#   PREFIX  an installation whose bin/ (cvshell and the transfer tools) is
#           copied into each staged tree; without it, cvshell and the stand-in
#           tools come from the Release build in CV_BENCH_BUILD.
# Environment: CV_BENCH_RUNS (default 10), CV_BENCH_BUILD (default
#              build-bench; it also builds the generator, xml_bench),
#              CV_BENCH_USERS (default "1000 10000 100000").
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
runs=${CV_BENCH_RUNS:-10}
build=${CV_BENCH_BUILD:-$top/build-bench}
read -r -a sizes <<<"${CV_BENCH_USERS:-1000 10000 100000}"
prefix=${1:-}
login=$(id -un)

fail() {
    echo "login_bench: $*" >&2
    exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "CV_BENCH_RUNS must be a positive count, not '$runs'"
((${#sizes[@]} > 0)) || fail "CV_BENCH_USERS names no size"
for users in "${sizes[@]}"; do
    [[ $users =~ ^[1-9][0-9]*$ ]] || fail "CV_BENCH_USERS: '$users' is not a user count"
done
if [[ -n $prefix ]]; then
    prefix=$(cd "$prefix" 2>/dev/null && pwd) || fail "no installation at $1"
    for program in cvshell cvcp; do
        [[ -x $prefix/bin/$program ]] || fail "$prefix/bin/$program is missing"
    done
fi

if [[ ! -x /usr/bin/time ]]; then
    echo "Installing time"
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq time >/dev/null
fi
command -v xmllint >/dev/null || fail "xmllint is missing (libxml2-utils)"
xmllint=$(command -v xmllint)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

# The generator always comes from the build; the shell from it too unless an
# installation is given.
targets=(xml_bench)
[[ -n $prefix ]] || targets+=(cvshell cvconf cvstandin)
if ! { cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCV_BENCH=ON \
              -DCV_BUILD_TESTS=OFF && ninja -C "$build" -j2 "${targets[@]}"; } \
        >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    fail "the build in $build failed"
fi
generator=$build/bench/xml_bench
if [[ -z $prefix ]]; then
    prefix=$work/build-install
    cmake --install "$build" --prefix "$prefix" >/dev/null
fi

# What an SSH server hands a login: a small, clean environment, for every
# process measured (its size alone changes the cost of starting a process).
login_env=(env -i "PATH=/usr/local/bin:/usr/bin:/bin" "HOME=${HOME:-/tmp}"
           "USER=$login" "SSH_CONNECTION=203.0.113.5 50122 198.51.100.10 22")

# stage USERS: generates the configuration of USERS users and stages an
# installation around it in $work/USERS.
stage() {
    local root=$work/$1/corvane
    mkdir -p "$root/bin" "$root/etc/conf.d" "$root/var/log"
    # Copies, not links: the shell finds its installation from its own file.
    local program
    for program in cvshell cvconf cvcp cvcp4 cvsync cvcmd; do
        [[ ! -f $prefix/bin/$program ]] || cp -p "$prefix/bin/$program" "$root/bin/"
    done
    if [[ -f $prefix/product-info.mf ]]; then
        cp -p "$prefix/product-info.mf" "$root/"
    else
        echo "Product: login benchmark installation" >"$root/product-info.mf"
    fi
    "$generator" --write-conf "$root/etc/corvane.conf" --users "$1" --middle-user "$login"
}

case_names=(xmllint refused accepted show)
case_status=(0 1 0 0)

# run CASE USERS: one timed run, appending "wall_ms cpu_ms rss_kb status" to
# $work/USERS.CASE.  The clock is bash's own, read with no process started
# in between, so the wall time holds only env, time and the case itself.
run() {
    local -a command
    case $1 in
        xmllint) command=("$xmllint" --noout "$work/$2/corvane/etc/corvane.conf") ;;
        refused) command=("$work/$2/corvane/bin/cvshell" -c "sh -c id") ;;
        accepted) command=("$work/$2/corvane/bin/cvshell" -c "cvcp -S. -V1") ;;
        show) command=("$work/$2/corvane/bin/cvconf" show user "$login") ;;
    esac
    local start end status=0
    start=${EPOCHREALTIME//[!0-9]/}
    "${login_env[@]}" /usr/bin/time -v -o "$work/time.txt" "${command[@]}" \
        </dev/null >/dev/null 2>"$work/stderr.txt" || status=$?
    end=${EPOCHREALTIME//[!0-9]/}
    awk -v wall=$((end - start)) -v status=$status '
        /User time \(seconds\)/   { cpu += $4 }
        /System time \(seconds\)/ { cpu += $4 }
        /Maximum resident set size/ { rss = $6 }
        END { printf "%.3f %.0f %d %d\n", wall / 1000, cpu * 1000, rss, status }' \
        "$work/time.txt" >>"$work/$2.$1"
}

# check USERS: one untimed run of each case (which also warms the caches);
# stops the script when a case ends otherwise than it should.
check() {
    local log=$work/$1/corvane/var/log/corvane-cvshell.log
    local i status
    for i in "${!case_names[@]}"; do
        run "${case_names[$i]}" "$1"
        status=$(cut -d' ' -f4 "$work/$1.${case_names[$i]}")
        if [[ $status -ne ${case_status[$i]} ]]; then
            cat "$work/stderr.txt" >&2
            fail "$1 users: ${case_names[$i]} exited with $status, expected ${case_status[$i]}"
        fi
        rm "$work/$1.${case_names[$i]}"
    done
    # A configuration error also ends the shell with 1: only the log tells a
    # refusal from it.
    if ! grep -qF "Illegal cvshell use command=sh -c id user=$login " "$log"; then
        tail -n 5 "$log" >&2 2>/dev/null || true
        fail "$1 users: the refused command is not logged as an illegal use"
    fi
}

for users in "${sizes[@]}"; do
    stage "$users"
    check "$users"
done

for users in "${sizes[@]}"; do
    echo "Measuring: $users users, $runs runs per case" >&2
    for ((i = 0; i < runs; i++)); do
        for name in "${case_names[@]}"; do run "$name" "$users"; done
    done
done

# summary FILE: median wall ms, median cpu ms, largest rss KiB, and how many
# runs ended with another status than EXPECTED (the second argument).
summary() {
    awk -v expected="$2" '
        function median(v, n,   i, j, t) {
            for (i = 2; i <= n; i++)
                for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        { wall[NR] = $1; cpu[NR] = $2; if ($3 > rss) rss = $3; if ($4 != expected) odd++ }
        END { printf "%.3f %.1f %d %d\n", median(wall, NR), median(cpu, NR), rss, odd }' "$1"
}

echo
echo "| users | file size | case | median wall ms | median CPU ms | max RSS MiB |" \
     "wall x xmllint | CPU x xmllint | RSS x xmllint |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|"
warnings=()
for users in "${sizes[@]}"; do
    size=$(stat -c %s "$work/$users/corvane/etc/corvane.conf")
    read -r floor_wall floor_cpu floor_rss _ < <(summary "$work/$users.xmllint" 0)
    for i in "${!case_names[@]}"; do
        name=${case_names[$i]}
        read -r wall cpu rss odd < <(summary "$work/$users.$name" "${case_status[$i]}")
        ((odd == 0)) || warnings+=("$odd runs of $name at $users users exited otherwise than ${case_status[$i]}")
        awk -v users="$users" -v size="$size" -v name="$name" -v wall="$wall" -v cpu="$cpu" \
            -v rss="$rss" -v fw="$floor_wall" -v fc="$floor_cpu" -v fr="$floor_rss" '
            function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "n/a" }
            BEGIN {
                printf "| %d | %.2f MiB | %s | %.1f | %.0f | %.1f | %s | %s | %s |\n",
                       users, size / 1048576, name, wall, cpu, rss / 1024,
                       ratio(wall, fw), ratio(cpu, fc), ratio(rss, fr)
            }'
    done
done
echo
echo "Runs per case: $runs.  CPU time has the 10 ms resolution of /usr/bin/time."
for warning in "${warnings[@]}"; do echo "warning: $warning"; done
