#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz and runs each in turn for SEGUNDOS (default 60) on
# a copy of its corpus (fuzz/corpus/<target>, plus build-fuzz/seeds/<target> that
# fuzz/make-corpus.sh writes). Prints per target the executions, executions per second and
# coverage; fails on any crash, leak, time-out, memory excess or sanitizer report, keeping
# the input that caused it in build-fuzz/fuzz-run/<target>/ and showing the fuzzer's log.
#
#   fuzz/run.sh [SEGUNDOS] [OBJETIVO...]
#
# Needs clang and libFuzzer (Debian: clang libclang-rt-14-dev); one fuzzer at a time, one job.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=(dbf_fuzz xml_fuzz ini_fuzz soluc_fuzz)
BUILD=build-fuzz

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "run: falta $tool (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }
done
mkdir -p "$BUILD"
if ! { CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DPONTIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
  cmake --build "$BUILD" --target "${TARGETS[@]}" -j2; } >"$BUILD/build.log" 2>&1; then
  tail -40 "$BUILD/build.log" >&2
  echo "run: no se pudieron compilar los objetivos (registro completo en $BUILD/build.log)" >&2
  exit 1
fi

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
printf '%-11s %12s %8s %8s %8s  %s\n' objetivo ejecuciones 'ejec/s' cov ft resultado
for target in "${TARGETS[@]}"; do
  run="$PWD/$BUILD/fuzz-run/$target"
  rm -rf "$run"
  mkdir -p "$run/corpus"
  cp fuzz/corpus/"$target"/* "$run/corpus/"
  [ -d "$BUILD/seeds/$target" ] && cp "$BUILD/seeds/$target"/* "$run/corpus/"
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="$PWD/fuzz/$target.dict")
  # The target's files go to tmpfs; a run that ends in a crash cannot tidy up, so this does.
  scratch=$(if [ -w /dev/shm ]; then mktemp -d -p /dev/shm pontix-fuzz-run.XXXXXX; else mktemp -d; fi)
  status=0
  # -jobs=1 -workers=1: one process, its output in fuzz-0.log of the run folder.
  (cd "$run" && PONTIX_FUZZ_DIR=$scratch "$OLDPWD/$BUILD/fuzz/$target" corpus -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -jobs=1 -workers=1 -print_final_stats=1 -artifact_prefix="$run/" "${dict[@]}" >runner.log 2>&1) ||
    status=$?
  rm -rf "$scratch"
  log="$run/fuzz-0.log"
  [ -f "$log" ] || log="$run/runner.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  artifacts=$(find "$run" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' -o -name 'slow-unit-*' \) | sort)
  verdict=bien
  if [ "$status" -ne 0 ] || [ -n "$artifacts" ] ||
    grep -qE '==[0-9]+==ERROR|runtime error:|ERROR: libFuzzer|^fuzz: ' "$log"; then
    verdict=FALLO
    failed+=("$target")
  fi
  printf '%-11s %12s %8s %8s %8s  %s\n' "$target" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$verdict"
  if [ "$verdict" = FALLO ]; then
    echo "--- $log (final) ---" >&2
    tail -60 "$log" >&2
    echo >&2
    [ -n "$artifacts" ] && echo "Entradas guardadas: $artifacts" >&2
  fi
done

# The closing line test runners print, so that CI counts the targets.
echo "fuzz: $((${#TARGETS[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if ((${#failed[@]})); then
  echo "run: fallos en ${failed[*]}" >&2
  exit 1
fi
