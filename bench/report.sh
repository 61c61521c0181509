#!/usr/bin/env bash
# Measures the benchmark figures and prints them as Markdown on stdout (progress on stderr).
#
#   bench/report.sh [RUNS] > report.md      RUNS: runs per figure, median taken (default 3,
#                                           or $PONTIX_BENCH_RUNS)
#
# Configures and builds build-bench (Release, -DPONTIX_BENCH=ON) when needed and installs the
# Debian packages it lacks. Writes only into build-bench and $TMPDIR/pontix-report (TMPDIR
# unset: the system's temporary folder), which keeps the generated documents and tables for the
# next run: delete it after changing a generator. Xvfb puts its socket where X servers do.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-bench
WINDOW_TITLE="Exportar e importar"

log() { echo "report: $*" >&2; }

# ---- the GUI probe, run by this same script inside xvfb-run --------------------------------
# Starts the window RUNS+1 times (the first warms the caches) and prints one start time per run,
# in seconds: from the start of the process to its window being mapped.
if [[ ${1:-} == --gui-probe ]]; then
  runs=$2
  pid=
  trap '[[ -n $pid ]] && kill "$pid" 2>/dev/null; true' EXIT
  for ((i = 0; i <= runs; i++)); do
    start=$EPOCHREALTIME
    "$BUILD/app/pontix" 2>/dev/null &
    pid=$!
    until xdotool search --onlyvisible --name "$WINDOW_TITLE" >/dev/null 2>&1; do
      kill -0 "$pid" 2>/dev/null || { echo "report: the window ended before it was shown" >&2; exit 1; }
      if (($(awk -v s="$start" -v n="$EPOCHREALTIME" 'BEGIN { print (n - s > 30) }'))); then
        echo "report: no window after 30 s" >&2
        exit 1
      fi
    done
    shown=$EPOCHREALTIME
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    ((i == 0)) || awk -v s="$start" -v n="$shown" 'BEGIN { printf "%.4f\n", n - s }'
  done
  exit 0
fi

RUNS=${1:-${PONTIX_BENCH_RUNS:-3}}
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "Usage: bench/report.sh [RUNS]" >&2; exit 2; }
SIZES=(10000 100000 1000000)
WORK=${TMPDIR:-/tmp}/pontix-report

# ---- packages and build --------------------------------------------------------------------
install_missing() {
  local packages missing=() sudo=()
  read -ra packages <<<"$(./pontix.sh packages) time libxml2-utils shapelib"
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || {
      echo "Missing packages; install them as root: apt-get install ${missing[*]}" >&2
      exit 1
    }
    sudo=(sudo)
  fi
  log "installing ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >&2
}

install_missing
# No -DPONTIX_WERROR: GCC 12 gives false -Wrestrict warnings at -O3.
if ! grep -qs '^PONTIX_BENCH:BOOL=ON' "$BUILD/CMakeCache.txt" ||
  ! grep -qs '^CMAKE_BUILD_TYPE:STRING=Release' "$BUILD/CMakeCache.txt"; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPONTIX_BENCH=ON >&2
fi
log "building"
cmake --build "$BUILD" --target exportar_bench importar_bench pontix pontix-cli -j2 >&2

mkdir -p "$WORK"
# The benchmarks, xvfb-run and the window keep their files in $WORK.
export TMPDIR=$WORK XDG_CACHE_HOME=$WORK/cache XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data
export XDG_RUNTIME_DIR=$WORK/runtime PYTHONDONTWRITEBYTECODE=1
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# ---- measuring -----------------------------------------------------------------------------
# run_timed CMD...: runs CMD once; sets WALL (seconds, from the shell's clock) and PEAK (KiB,
# the process's maximum resident set as /usr/bin/time reports it). The tables a run before left
# are flushed first: deleting a file still being written back waits for the disk, and that wait
# belongs to the run that wrote it.
run_timed() {
  local start end
  sync
  start=$EPOCHREALTIME
  if ! /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/stderr.txt"; then
    cat "$WORK/stderr.txt" >&2
    echo "report: failed: $*" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  WALL=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }')
  PEAK=$(awk '{ v = $2 } END { print v }' "$WORK/time.txt")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# The mean real time of one iteration, in seconds, from a benchmark's JSON output.
bench_seconds() {
  /usr/bin/python3 - "$1" <<'EOF'
import json, sys
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
if len(runs) != 1:
    sys.exit("report: expected one benchmark, got %d" % len(runs))
scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[runs[0]["time_unit"]]
print("%.4f" % (runs[0]["real_time"] * scale))
EOF
}

# measure_bench BINARY FILTER: RUNS processes of one benchmark; sets TIME (median seconds per
# iteration, as the benchmark measures it) and MEM (median peak of the process, KiB). A MinTime
# set in the benchmark's code outranks --benchmark_min_time (Exportar's runs for 1 s of CPU).
measure_bench() {
  local times=() peaks=()
  for ((r = 0; r < RUNS; r++)); do
    run_timed "$1" --benchmark_filter="$2" --benchmark_min_time=0.01 \
      --benchmark_out="$WORK/bench.json" --benchmark_out_format=json
    times+=("$(bench_seconds "$WORK/bench.json")")
    peaks+=("$PEAK")
  done
  TIME=$(median "${times[@]}")
  MEM=$(median "${peaks[@]}")
}

# measure_cmd CMD...: RUNS runs of a command; sets TIME (median wall seconds) and MEM (KiB).
measure_cmd() {
  local times=() peaks=()
  for ((r = 0; r < RUNS; r++)); do
    run_timed "$@"
    times+=("$WALL")
    peaks+=("$PEAK")
  done
  TIME=$(median "${times[@]}")
  MEM=$(median "${peaks[@]}")
}

join() { local IFS=,; echo "$*" | sed 's/,/, /g'; }
mb() { calc "%.1f" "$1 * 1024 / 1e6"; }  # KiB -> MB
short() { case $1 in 10000) echo 10k ;; 100000) echo 100k ;; 1000000) echo 1M ;; *) echo "$1" ;; esac; }

UPTIME_START=$(uptime)
OUT=()
emit() { OUT+=("$*"); }

# ---- Exportar ------------------------------------------------------------------------------
emit "### Exportar (builders on the administration document) against \`xmllint --noout\`"
emit ""
emit "| document | elements | size MB | Pontix s | xmllint s | ratio | scaling | Pontix peak MB | xmllint peak MB | peak / size |"
emit "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
ratio_1m=() peak_1m=()
for kind in distinct shared; do
  shared=$([[ $kind == shared ]] && echo 1 || echo 0)
  previous=
  for n in "${SIZES[@]}"; do
    filter="^BM_ExportarBuilders/shared:$shared/elements:$n/"
    doc=$WORK/pontix-bench-v2-$kind-$n.xml
    if [[ ! -f $doc ]]; then
      log "generating the $kind document of $n elements"
      run_timed "$BUILD/bench/exportar_bench" --benchmark_filter="$filter"
    fi
    [[ -f $doc ]] || { echo "report: the benchmark left no $doc" >&2; exit 1; }
    log "Exportar $kind $n"
    measure_bench "$BUILD/bench/exportar_bench" "$filter"
    pontix_s=$TIME
    # The peak of one operation in its own process, as pontix-cli or the host runs it: the
    # benchmark's process runs it as many times as fill a second.
    mkdir -p "$WORK/peak-ktemp"
    measure_cmd "$BUILD/app/pontix-cli" exportar "$doc" --trabajo "$WORK/peak-ktemp" --incompletos
    pontix_kb=$MEM
    measure_cmd xmllint --noout "$doc"
    size=$(stat -c %s "$doc")
    scaling=$([[ -n $previous ]] && calc "%.1f" "$pontix_s / $previous" || echo "")
    previous=$pontix_s
    ratio=$(calc "%.2f" "$pontix_s / $TIME")
    worst_ratio=$(calc "%.2f" "($ratio > ${worst_ratio:-0}) ? $ratio : ${worst_ratio:-0}")
    if ((n == 1000000)); then
      ratio_1m+=("$kind $ratio×")
      peak_1m+=("$kind $(calc "%.2f" "$pontix_kb * 1024 / $size")×")
    fi
    emit "| $kind | $(short "$n") | $(calc "%.1f" "$size / 1e6") | $(calc "%.3f" "$pontix_s") |" \
      "$(calc "%.3f" "$TIME") | $ratio | $scaling | $(mb "$pontix_kb") |" \
      "$(mb "$MEM") | $(calc "%.2f" "$pontix_kb * 1024 / $size") |"
  done
done

# ---- Importar ------------------------------------------------------------------------------
emit ""
emit "### Importar (SOLUC to SolucioHorari.xml, 10k-record lookup tables) against readers of the same SOLUC.DBF"
emit ""
emit "| entries | SOLUC.DBF MB | Pontix s | dbfdump s | ratio | scaling | dbfread s | Pontix peak MB | dbfdump peak MB | dbfread peak MB |"
emit "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
previous=
importar_peaks=()
for n in "${SIZES[@]}"; do
  filter="^BM_Importar/entries:$n\$"
  table=$WORK/pontix-bench-importar-$n/SOLUC.DBF
  if [[ ! -f $table ]]; then
    log "generating the tables of $n entries"
    run_timed "$BUILD/bench/importar_bench" --benchmark_filter="$filter" --benchmark_min_time=0.01
  fi
  [[ -f $table ]] || { echo "report: the benchmark left no $table" >&2; exit 1; }
  log "Importar $n"
  measure_bench "$BUILD/bench/importar_bench" "$filter"
  pontix_s=$TIME pontix_kb=$MEM
  measure_cmd dbfdump "$table"
  dbfdump_s=$TIME dbfdump_kb=$MEM
  measure_cmd /usr/bin/python3 -c 'import sys, dbfread; [r for r in dbfread.DBF(sys.argv[1])]' "$table"
  scaling=$([[ -n $previous ]] && calc "%.1f" "$pontix_s / $previous" || echo "")
  previous=$pontix_s
  importar_ratio=$(calc "%.2f" "$pontix_s / $dbfdump_s")
  importar_peaks+=("$(mb "$pontix_kb")")
  emit "| $(short "$n") | $(calc "%.1f" "$(stat -c %s "$table") / 1e6") | $(calc "%.3f" "$pontix_s") |" \
    "$(calc "%.3f" "$dbfdump_s") | $importar_ratio | $scaling | $(calc "%.3f" "$TIME") |" \
    "$(mb "$pontix_kb") | $(mb "$dbfdump_kb") | $(mb "$MEM") |"
done

# ---- GUI start -----------------------------------------------------------------------------
log "GUI start"
# -noreset: an X server resets when its last client goes, and a window started meanwhile
# finds no display.
mapfile -t starts < <(QT_QPA_PLATFORM=xcb xvfb-run -a -s "-noreset -screen 0 1280x1024x24" bash "$0" --gui-probe "$RUNS")
((${#starts[@]} == RUNS)) || { echo "report: the GUI probe gave ${#starts[@]} times" >&2; exit 1; }
gui_ms=$(calc "%.0f" "$(median "${starts[@]}") * 1000")
emit ""
emit "### GUI start"
emit ""
emit "| start to shown window, ms (median) | runs, ms | goal |"
emit "|---:|---|---|"
gui_runs=$(for s in "${starts[@]}"; do calc "%.0f\n" "$s * 1000"; done | paste -sd' ')
emit "| $gui_ms | $gui_runs | < 250 |"
emit ""
emit "### Goals"
emit ""
emit "- Exportar ≤ 1.0× \`xmllint --noout\` at every size: worst $worst_ratio×"
emit "- Exportar ≤ 0.4× \`xmllint --noout\` at 1M: $(join "${ratio_1m[@]}")"
emit "- Exportar peak memory ≤ 1.0× the document's size at 1M: $(join "${peak_1m[@]}")"
emit "- Importar at 1M ≤ 1.0× dbfdump: $importar_ratio×"
emit "- Importar peak memory independent of the entries: $(IFS=/; echo "${importar_peaks[*]}") MB at 10k/100k/1M"
emit "- GUI start < 250 ms: $gui_ms ms"

# ---- the report ----------------------------------------------------------------------------
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
if [[ -n $(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=no 2>/dev/null) ]]; then
  commit="$commit (with uncommitted changes)"
fi
echo "Measured $(date '+%Y-%m-%d %H:%M %Z') at commit $commit on $(nproc) cores," \
  "$(. /etc/os-release && echo "$PRETTY_NAME"); median of $RUNS runs."
echo
echo "- uptime at the start: \`$(echo "$UPTIME_START" | sed 's/^ *//')\`"
echo "- uptime at the end: \`$(uptime | sed 's/^ *//')\`"
echo
printf '%s\n' "${OUT[@]}"
echo
echo "Pontix times are the benchmark's real time per iteration (writing the tables included);"
echo "the anchors' are the wall time of the whole process, start-up included. Peaks are the"
echo "processes' maximum resident sets. Scaling: time at this size over time at the size before"
echo "(10 is linear). The dbfread loop keeps every record in a list, hence its peak."
