#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer), fuzzes each for a bounded time starting from
# the seeds in fuzz/corpus and the kept findings in fuzz/regressions, then
# replays the seeds and the kept findings once more. Exits non-zero on any
# finding; a new finding is left in build-fuzz/findings/<target>/.
#
#   bash fuzz/run.sh                 # 60 s per target
#   FUZZ_SECONDS=600 bash fuzz/run.sh
#   FUZZ_BUILD=build-mine bash fuzz/run.sh
#   FUZZ_WERROR=ON bash fuzz/run.sh   # warnings stop the build (as in CI)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")  # absolute: the targets change folder while they run
seconds=${FUZZ_SECONDS:-60}
targets=(reader config run)

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (scripts/setup.sh installs it)"; exit 1; }
if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 &&
   ! [ -e /usr/lib/x86_64-linux-gnu/libclang_rt.fuzzer-x86_64.a ]; then
  echo "fuzz: the libFuzzer runtime is missing (package libclang-rt-dev)"; exit 1
fi

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FUZZ=ON -DQM_TESTS=OFF \
  -DQM_WERROR="${FUZZ_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allow_user_segv_handler=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
declare -A maxlen=([reader]=32768 [config]=8192 [run]=16384)

status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  found="$build/findings/$t"
  mkdir -p "$work" "$found"
  dict=()
  case $t in
    config) dict=(-dict="$root/fuzz/config.dict") ;;
    *) dict=(-dict="$root/fuzz/gds.dict") ;;
  esac
  seeds=("$root/fuzz/corpus/$t")
  [ -n "$(ls -A "$root/fuzz/regressions/$t" 2>/dev/null)" ] && seeds+=("$root/fuzz/regressions/$t")
  echo "== fuzz_$t: ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" "$work" "${seeds[@]}" "${dict[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${maxlen[$t]}" \
      -artifact_prefix="$found/" -print_final_stats=1 2>"$build/fuzz_$t.log"; then
    echo "fuzz_$t: FINDING (see $found/ and $build/fuzz_$t.log)"
    tail -n 60 "$build/fuzz_$t.log"
    status=1
  else
    # The closing figures: executions, coverage, corpus, memory.
    grep -E '^#[0-9]+[[:space:]]+DONE' "$build/fuzz_$t.log" | tail -n 1
  fi
done

# The kept inputs once more, without mutation.
for t in "${targets[@]}"; do
  inputs=("$root/fuzz/corpus/$t"/*)
  [ -n "$(ls -A "$root/fuzz/regressions/$t" 2>/dev/null)" ] && inputs+=("$root/fuzz/regressions/$t"/*)
  echo "== replay fuzz_$t: ${#inputs[@]} inputs"
  if ! "$build/fuzz/fuzz_$t" -timeout=10 -rss_limit_mb=2048 -runs=1 "${inputs[@]}" >"$build/replay_$t.log" 2>&1; then
    echo "replay fuzz_$t: FAILED"
    tail -n 60 "$build/replay_$t.log"
    status=1
  fi
done
exit $status
