#!/usr/bin/env bash
# One entry point for people and CI: finds CPython 3.13, builds the extension into a
# virtual environment (.venv) and runs either the quickstart or the test suite.
#   bash scripts/dev.sh demo    # install, then run examples/quickstart.py
#   bash scripts/dev.sh test    # install with the test extra, then run pytest
set -euo pipefail
cd "$(dirname "$0")/.."

find_python() {
  if command -v python3.13 >/dev/null 2>&1 && python3.13 -c 'import sys' >/dev/null 2>&1; then
    command -v python3.13; return
  fi
  for p in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.13*/bin/python3.13 /usr/local/bin/python3.13 /usr/bin/python3.13; do
    if [ -x "$p" ]; then echo "$p"; return; fi
  done
  echo "CPython 3.13 not found" >&2; exit 1
}

ensure_system_packages() {
  local missing=()
  [ -f /usr/include/sqlite3.h ] || missing+=(libsqlite3-dev)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" = 0 ]; then
      apt-get update -qq && apt-get install -y -qq "${missing[@]}"
    else
      echo "missing system packages: ${missing[*]} (install them with apt-get)" >&2; exit 1
    fi
  fi
}

VENV=${QUILLMERE_VENV:-.venv}
# The build tools live in the environment instead of a throw-away isolated one, so the
# configured build directory (pyproject's build/<wheel tag>) stays valid between runs and an
# unchanged tree reinstalls in seconds. QUILLMERE_BUILD_DIR overrides the directory (CI
# points it at an empty one to build from scratch).
setup() {
  ensure_system_packages
  [ -x "$VENV/bin/python" ] || "$(find_python)" -m venv "$VENV"
  "$VENV/bin/python" -m pip install -q --upgrade pip
  "$VENV/bin/python" -m pip install -q "scikit-build-core>=0.10" "cmake>=3.24" "ninja>=1.10"
  local settings=()
  if [ -n "${QUILLMERE_BUILD_DIR:-}" ]; then settings+=(--config-settings=build-dir="$QUILLMERE_BUILD_DIR"); fi
  "$VENV/bin/python" -m pip install -q --no-build-isolation "${settings[@]}" "$1"
}

case "${1:-}" in
  demo) setup . && "$VENV/bin/python" examples/quickstart.py ;;
  test) setup ".[test]" && "$VENV/bin/python" -m pytest -q tests ;;
  *) echo "usage: bash scripts/dev.sh demo|test" >&2; exit 2 ;;
esac
