#!/usr/bin/env bash
# Builds the extension with AddressSanitizer + UndefinedBehaviorSanitizer and runs the
# whole test suite against it. Usage: scripts/sanitize.sh VENV
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${1:?usage: scripts/sanitize.sh VENV}
BUILD=build/sanitize
"$VENV/bin/pip" install -q cmake ninja
"$VENV/bin/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
  -DPython_EXECUTABLE="$VENV/bin/python" -DQUILLMERE_SANITIZE=ON -Wno-dev >/dev/null
"$VENV/bin/cmake" --build "$BUILD" -j2
ASAN_LIB=$(g++ -print-file-name=libasan.so)
UBSAN_LIB=$(g++ -print-file-name=libubsan.so)
# CPython's own allocations are not ours to chase: leak detection stays off.
LD_PRELOAD="$ASAN_LIB $UBSAN_LIB" \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
QUILLMERE_EXPECT_BUILD="$PWD/$BUILD" \
PYTHONPATH="$PWD/$BUILD" \
  "$VENV/bin/python" -m pytest -q -p no:cacheprovider tests
