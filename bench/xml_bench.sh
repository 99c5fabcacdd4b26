#!/usr/bin/env bash
# Whole-process time and peak memory of loading and decorating a large
# configuration, beside xmllint on the same file as the floor.
#
# The configuration (10,000 users and 1,000 groups, about 3 MB) is written by
# xml_bench itself.  Each side runs as its own process under /usr/bin/time -v,
# CV_BENCH_RUNS times in alternation:
#   floor     xmllint --noout FILE       (parse into a tree, free it)
#   cvshell   xml_bench --load FILE      (load with the version check and the
#                                         legacy moves, decorate, free)
# The script prints the median wall time, the median CPU time (user + system)
# and the largest peak resident size of each side and their ratios; the target
# is at most 1.5 times the floor on time and memory.  It measures and reports;
# it does not fail on a figure.  Afterwards the Google Benchmark cases of
# xml_bench run once (set CV_BENCH_GBENCH=0 to skip them).
#
# Usage: bench/xml_bench.sh
# Environment: CV_BENCH_RUNS (default 15), CV_BENCH_BUILD (default build-bench),
#              CV_BENCH_GBENCH (default 1).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
runs=${CV_BENCH_RUNS:-15}
build=${CV_BENCH_BUILD:-$top/build-bench}

if [[ ! -x /usr/bin/time ]]; then
    echo "Installing time"
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq time >/dev/null
fi
command -v xmllint >/dev/null || { echo "xmllint is missing (libxml2-utils)" >&2; exit 1; }

cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCV_BENCH=ON \
      -DCV_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" -j2 xml_bench >/dev/null
bench=$build/bench/xml_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
conf=$work/corvane.conf
"$bench" --write-conf "$conf"
echo "Configuration: $(stat -c %s "$conf") bytes, 10000 users, 1000 groups"

# run NAME COMMAND...: one timed run, appending "wall_ms cpu_ms rss_kb" to
# $work/NAME.
run() {
    local name=$1
    shift
    local start end
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
    end=$(date +%s%N)
    awk -v wall=$(((end - start) / 1000)) '
        /User time \(seconds\)/   { cpu += $4 }
        /System time \(seconds\)/ { cpu += $4 }
        /Maximum resident set size/ { rss = $6 }
        END { printf "%.1f %.0f %d\n", wall / 1000, cpu * 1000, rss }' \
        "$work/time.txt" >>"$work/$name"
}

for ((i = 0; i < runs; i++)); do
    run floor xmllint --noout "$conf"
    run cvshell "$bench" --load "$conf"
done

# summary NAME: median wall ms, median cpu ms, largest rss KiB.
summary() {
    local wall cpu rss
    wall=$(cut -d' ' -f1 "$work/$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    cpu=$(cut -d' ' -f2 "$work/$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    rss=$(cut -d' ' -f3 "$work/$1" | sort -n | tail -1)
    echo "$wall $cpu $rss"
}
read -r floor_wall floor_cpu floor_rss < <(summary floor)
read -r ours_wall ours_cpu ours_rss < <(summary cvshell)

printf '%-10s %12s %12s %14s\n' "" "wall (ms)" "cpu (ms)" "peak RSS (KiB)"
printf '%-10s %12s %12s %14s\n' "xmllint" "$floor_wall" "$floor_cpu" "$floor_rss"
printf '%-10s %12s %12s %14s\n' "xml_bench" "$ours_wall" "$ours_cpu" "$ours_rss"
awk -v fw="$floor_wall" -v fc="$floor_cpu" -v fr="$floor_rss" \
    -v ow="$ours_wall" -v oc="$ours_cpu" -v orss="$ours_rss" 'BEGIN {
        printf "%-10s %11.2fx %11.2fx %13.2fx   (target: at most 1.50x)\n", "ratio",
               ow / fw, (fc > 0 ? oc / fc : 0), orss / fr
    }'

if [[ ${CV_BENCH_GBENCH:-1} != 0 ]]; then
    echo
    "$bench" --benchmark_min_time=1
fi
