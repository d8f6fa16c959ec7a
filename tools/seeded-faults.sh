#!/usr/bin/env bash
# Seeded faults: how many small slips in extension/ the test suites catch.
#
# Each fault of the list (tools/seeded-faults/faults.txt, format described there) is
# one textual edit of one extension/ file. The tracked files of the repository (with
# the working tree's changes and new files) are copied to build/faults/src, which is
# configured and built once per target in its own build tree
# (build/faults/src/build/<target>) and tested in its own Wine prefixes
# (build/faults/src/build/wineprefix*): the main build tree and the main prefixes are
# never touched. The unchanged copy must pass first. Then, for each fault: apply the
# edit, rebuild (only what the edit changed), run the suites, restore the file:
#   killed       a suite failed (the first failing suite is named; the run stops there)
#   survived     every suite passed
#   build-error  the edit does not compile
#   stale        the original text is not in the file exactly once (the list needs care)
#   timeout      build and tests took longer than the limit (counted as killed)
# The score is killed / (killed + survived).
#
# Usage: tools/seeded-faults.sh [-t win64|win32] [-k PATTERN] [-j JOBS] [-T SECONDS]
#                               [-f FAULTS] [--all-suites] [--no-baseline]
#   -t, --target    preset to build and test (default win64: fast; win32 runs the i686
#                   build, under qemu-i386 where the kernel refuses 32-bit processes)
#   -k, --filter    only faults whose id, file or description matches PATTERN (grep -E)
#   -j, --jobs      suites run at once by ctest (default 2; the build uses 2 jobs)
#   -T, --timeout   limit for one fault's build and tests (default 480 s, x4 emulated)
#   -f, --faults    the fault list (default tools/seeded-faults/faults.txt)
#   --all-suites    also run the suites that do not load the extension (host_tests,
#                   simcard_test); by default only guide_check, extension_units,
#                   extension_tests and runner_tests run, in that order (the first
#                   two at once), and the first failing stage ends the fault's run
#   --no-baseline   skip the test run of the unchanged copy (its build still happens)
# Output: a table on stdout and in build/faults/report-<target>.txt; each fault's
# build and test output in build/faults/logs/<target>/<id>.log.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=win64
filter=
jobs=2
limit=480
faults=$here/tools/seeded-faults/faults.txt
all_suites=0
baseline=1
while [ $# -gt 0 ]; do
    case $1 in
        -t | --target) target=$2; shift 2 ;;
        -k | --filter) filter=$2; shift 2 ;;
        -j | --jobs) jobs=$2; shift 2 ;;
        -T | --timeout) limit=$2; shift 2 ;;
        -f | --faults) faults=$(realpath "$2"); shift 2 ;;
        --all-suites) all_suites=1; shift ;;
        --no-baseline) baseline=0; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "seeded-faults: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
case $target in win64 | win32) ;; *) echo "seeded-faults: -t must be win64 or win32" >&2; exit 2 ;; esac
[ -f "$faults" ] || { echo "seeded-faults: no fault list $faults" >&2; exit 2; }

scratch=$here/build/faults
src=$scratch/src
logs=$scratch/logs/$target
report=$scratch/report-$target.txt
mkdir -p "$src" "$logs"

# The copy: tracked and new (not ignored) files of the working tree. Files whose
# content is unchanged keep their time stamps, so the scratch build stays current.
(cd "$here" && git ls-files -z --cached --others --exclude-standard) |
    while IFS= read -r -d '' path; do
        [ -f "$here/$path" ] || continue  # deleted in the working tree
        cmp -s "$here/$path" "$src/$path" && continue
        mkdir -p "$(dirname "$src/$path")"
        cp "$here/$path" "$src/$path"
        if [ -x "$here/$path" ]; then chmod +x "$src/$path"; fi
    done
# The copy's build id does not come from this repository's git state (which changes
# as work is committed and would rebuild the resources at each run).
export GIT_CEILING_DIRECTORIES=$scratch
# The copy's Wine tools choose prefixes inside the copy's build tree.
unset VELK_WINEPREFIX
export VELK_BUILD_DIR=$src/build
arch=x86_64
[ "$target" = win32 ] && arch=i686

# Fault list: blocks of "[ID] FILE" (FILE relative to extension/), "- ORIGINAL",
# "+ REPLACEMENT" and "? DESCRIPTION" lines; several - or + lines are joined by
# newlines, a "+" alone is an empty replacement. This prints one record per fault:
# id, file, description, NUL-separated, for the selection.
faults_tool() { python3 "$here/tools/seeded-faults/faults.py" "$@"; }

cd "$src"
echo "seeded-faults: copy in $src, target $target, ctest -j$jobs"
cmake --preset "$target" >"$scratch/configure-$target.log" 2>&1 ||
    { echo "seeded-faults: configure failed, see $scratch/configure-$target.log" >&2; exit 1; }

source "$src/tools/wine-common.sh"
mode=native
ctest_limit=()
if [ "$arch" = i686 ] && [ "$(velk_wine32_mode)" = qemu ]; then
    mode=qemu
    ctest_limit=(--timeout 1200)
    export VELK_TEST_TIME_SCALE=4
    limit=$((limit * 4))
fi
velk_start_server "$arch"
trap 'velk_stop_server "$arch"' EXIT

suites='^(guide_check|extension_units|extension_tests|runner_tests)$'
[ $all_suites = 1 ] && suites='.*'
# Fast suites first; a stage that fails ends the fault's run.
stages=('^(guide_check|extension_units)$' '^extension_tests$' '^runner_tests$')
[ $all_suites = 1 ] && stages+=('^(host_tests|host_tests_watchdog|simcard_test)$')

# What the suites need (everything with --all-suites).
build_targets=(--target velk_ux1 velk extension_units extension_tests runner_tests)
[ $all_suites = 1 ] && build_targets=()

# Builds and runs the stages before the time $2 (seconds since the epoch); prints
# "passed", "failed SUITE[,SUITE]", "build-error" or "timeout". Output goes to $1.
build_and_test() {
    local log=$1 deadline=$2 stage out failed rc
    # Seconds left before the deadline (at least 1: "timeout 0" would mean no limit).
    left() { local n=$((deadline - $(date +%s))); echo $((n > 0 ? n : 1)); }
    timeout -k 10 "$(left)" cmake --build --preset "$target" -j2 "${build_targets[@]}" >>"$log" 2>&1 || {
        rc=$?
        if [ $rc = 124 ] || [ $rc = 137 ]; then echo timeout; else echo build-error; fi
        return
    }
    for stage in "${stages[@]}"; do
        rc=0
        out=$(timeout -k 10 "$(left)" \
              ctest --preset "$target" -j"$jobs" --stop-on-failure "${ctest_limit[@]}" -R "$stage" 2>&1) || rc=$?
        echo "$out" >>"$log"
        [ $rc = 0 ] && continue
        if [ $rc = 124 ] || [ $rc = 137 ]; then echo timeout; return; fi
        failed=$(echo "$out" | sed -n '/The following tests FAILED:/,$p' |
                 sed -n 's/^[[:space:]]*[0-9]* - \([A-Za-z0-9_]*\) .*/\1/p' | paste -sd, -)
        echo "failed ${failed:-?}"
        return
    done
    echo passed
}

# Ends whatever a fault left running in the copy's prefix and starts its server anew.
reset_prefix() {
    (velk_use_wine "$arch"; "$velk_wineserver" -k 2>/dev/null || true)
    velk_start_server "$arch"
}

echo "seeded-faults: building the unchanged copy"
base_log=$logs/baseline.log
: >"$base_log"
cmake --build --preset "$target" -j2 "${build_targets[@]}" >>"$base_log" 2>&1 ||
    { echo "seeded-faults: the unchanged copy does not build; see $base_log" >&2; exit 1; }
if [ $baseline = 1 ]; then
    result=$(build_and_test "$base_log" $(($(date +%s) + limit)) </dev/null)
    if [ "$result" != passed ]; then
        echo "seeded-faults: the unchanged copy does not pass ($result); see $base_log" >&2
        exit 1
    fi
    echo "seeded-faults: the unchanged copy passes"
fi

killed=0 survived=0 broken=0 stale=0 timeouts=0 total=0
survivors=()
start=$(date +%s)
# The report grows row by row, so a run that is stopped still leaves its table.
{
    echo "Seeded faults, $target ($arch${mode:+, $mode}), started $(date -u '+%Y-%m-%d %H:%M UTC')"
    printf '%-8s %-12s %-34s %5s  %s\n' id result file time 'first failing suite / note'
} >"$report"
while IFS=$'\t' read -r -u 3 id file description; do
    total=$((total + 1))
    log=$logs/$id.log
    : >"$log"
    t0=$(date +%s)
    status=
    cp -p "$src/extension/$file" "$scratch/original" 2>/dev/null || true
    if ! detail=$(faults_tool apply "$faults" "$id" "$src/extension" 2>&1); then
        status=stale
    else
        result=$(build_and_test "$log" $((t0 + limit)) </dev/null)
        case $result in
            passed) status=survived; detail= ;;
            build-error) status=build-error; detail="does not compile (see the log)" ;;
            timeout) status=timeout; detail="no result in $limit s"; reset_prefix ;;
            failed*) status=killed; detail=${result#failed } ;;
        esac
        # The original back, newer than anything built from the edit.
        cp "$scratch/original" "$src/extension/$file"
        touch "$src/extension/$file"
    fi
    secs=$(($(date +%s) - t0))
    case $status in
        killed) killed=$((killed + 1)) ;;
        timeout) killed=$((killed + 1)); timeouts=$((timeouts + 1)) ;;
        survived) survived=$((survived + 1)); survivors+=("$id  $file  $description") ;;
        build-error) broken=$((broken + 1)) ;;
        stale) stale=$((stale + 1)) ;;
    esac
    row=$(printf '%-8s %-12s %-34s %4ss  %s' "$id" "$status" "$file" "$secs" "${detail:-$description}")
    echo "$row" | tee -a "$report"
done 3< <(faults_tool list "$faults" "$filter")

# The copy is left as the repository has it, built.
cmake --build --preset "$target" -j2 "${build_targets[@]}" >>"$base_log" 2>&1 || true

{
    echo
    echo "faults: $total; killed: $killed (of them timeouts: $timeouts); survived: $survived;" \
         "build errors: $broken; stale: $stale"
    if [ $((killed + survived)) -gt 0 ]; then
        echo "score: $killed/$((killed + survived)) = $(awk "BEGIN { printf \"%.1f\", 100 * $killed / ($killed + $survived) }") %"
    fi
    if [ ${#survivors[@]} -gt 0 ]; then
        echo "survivors:"
        printf '  %s\n' "${survivors[@]}"
    fi
} >>"$report"
echo
sed -n '/^faults:/,$p' "$report"
echo "seeded-faults: report in $report"
[ $stale = 0 ]
