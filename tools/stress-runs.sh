#!/usr/bin/env bash
# Runs a worksheet many times with several velk.exe runs at once in one Wine prefix,
# as parallel test suites or a demo started beside the tests do, and counts the runs
# that failed or hung.
#
#   tools/stress-runs.sh [-j PARALLEL] [-n RUNS] [-t TIMEOUT_S] [-a i686|x86_64] [WORKSHEET]
#
# Defaults: 2 at once, 200 runs in all, 60 s before a run counts as hung, the x86_64
# build, tools/stress/paired.vws (an analog module whose range, buffer size and names
# are set through its setup dialog, and a digital output module). Each run writes to
# a folder of its own under build/stress-ARCH/; the log of every failed run is kept there.
# Prints one line per failure and the totals; exits 1 when any run failed or hung.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
parallel=2 runs=200 limit=60 arch=x86_64
while getopts "j:n:t:a:" opt; do
    case $opt in
        j) parallel=$OPTARG ;;
        n) runs=$OPTARG ;;
        t) limit=$OPTARG ;;
        a) arch=$OPTARG ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
sheet=$(realpath "${1:-$here/tools/stress/paired.vws}")
case $arch in
    i686) bin=$here/build/win32/bin ;;
    x86_64) bin=$here/build/win64/bin ;;
    *) echo "stress-runs: -a must be i686 or x86_64" >&2; exit 2 ;;
esac
[ -f "$bin/velk.exe" ] || { echo "stress-runs: build $bin/velk.exe first" >&2; exit 2; }
out=$here/build/stress-$arch
rm -rf "$out"
mkdir -p "$out"
# The runs use a copy of the build's programs, so a rebuild meanwhile cannot change them.
cp -r "$bin" "$out/bin"
bin=$out/bin

source "$here/tools/wine-common.sh"
velk_start_server "$arch"
trap 'velk_stop_server "$arch"' EXIT

# One worker per lane; lane k runs the runs k, k+parallel, ...
worker() {
    local lane=$1 i dir rc
    for ((i = lane; i < runs; i += parallel)); do
        dir=$out/run$i
        mkdir -p "$dir"
        rc=0
        (cd "$bin" && timeout -k 5 "$limit" "$here/tools/wine-run.sh" ./velk.exe run "Z:$sheet" \
            --out "Z:$dir" --no-chart) >"$dir/log" 2>&1 </dev/null || rc=$?
        if [ $rc = 0 ]; then
            rm -rf "$dir"
            echo ok >>"$out/lane$lane"
        elif [ $rc = 124 ] || [ $rc = 137 ]; then
            echo "run $i: hung (no end within $limit s), log $dir/log"
            echo hung >>"$out/lane$lane"
        else
            echo "run $i: failed with exit code $rc: $(grep -m1 -i -E 'error|fail|did not' "$dir/log" || tail -1 "$dir/log")"
            echo failed >>"$out/lane$lane"
        fi
    done
}

start=$(date +%s)
for ((lane = 0; lane < parallel; ++lane)); do worker "$lane" & done
wait
seconds=$(($(date +%s) - start))
ok=$(cat "$out"/lane* 2>/dev/null | grep -c '^ok$' || true)
failed=$(cat "$out"/lane* 2>/dev/null | grep -c '^failed$' || true)
hung=$(cat "$out"/lane* 2>/dev/null | grep -c '^hung$' || true)
echo "stress-runs: $runs runs of $(basename "$sheet"), $parallel at once, $arch: $ok passed, $failed failed, $hung hung, ${seconds} s"
[ "$failed" = 0 ] && [ "$hung" = 0 ]
