#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each over its seed corpus.
#   bash fuzz/run.sh [RUNS] [TARGET...]   # RUNS inputs per target (default 1000000)
# New interesting inputs collect in build/fuzz/corpus/<target>; crashes in
# build/fuzz/artifacts/. Copy a crash input into fuzz/crashes/<target>/ once it is fixed:
# tests/test_fuzz_replay.py replays every seed and crash through the Python surface.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-1000000}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(field_codec segment_reader cypher load_database)
CLANG=${CLANG:-$(command -v clang++-16 || command -v clang++)}
BUILD=build/fuzz
VENV_BIN=${VENV_BIN:-/work/venv/bin}
# libstdc++ offers std::expected only to compilers that announce C++20 concepts in full;
# clang 16 implements what it needs but still announces the older value.
"$VENV_BIN/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV_BIN/ninja" -DCMAKE_CXX_COMPILER="$CLANG" \
  -DQUILLMERE_FUZZ=ON -DCMAKE_CXX_FLAGS="-D__cpp_concepts=202002L -Wno-macro-redefined -g" -Wno-dev >/dev/null
"$VENV_BIN/cmake" --build "$BUILD" -j2
mkdir -p "$BUILD/artifacts"
# Statements and scripts longer than these add little the shorter ones do not reach, and
# each one costs more than a thousand short ones once inputs grow to the limit.
declare -A MAX_LEN=([field_codec]=4096 [segment_reader]=4096 [cypher]=1024 [load_database]=2048)
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/corpus/$t"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$BUILD/fuzz/fuzz_$t" -runs="$RUNS" -max_len="${MAX_LEN[$t]}" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$BUILD/artifacts/$t-" -print_final_stats=1 \
    "$BUILD/corpus/$t" "fuzz/corpus/$t" 2>&1 | tail -n 25 | tee "$BUILD/$t.log"
done
