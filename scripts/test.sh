#!/usr/bin/env bash
# Builds the project and runs the whole test suite.
# Usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
# AIKORVANE_CTEST_EXCLUDE: a regular expression of tests that this run leaves
# out (CI's sanitizer runs leave out what no sanitizer looks into).
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300 \
  ${AIKORVANE_CTEST_EXCLUDE:+--exclude-regex "$AIKORVANE_CTEST_EXCLUDE"}
