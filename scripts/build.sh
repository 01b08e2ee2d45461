#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json (default: default,
# in build/); further arguments go to the configure step. Two cores: keep it
# lean.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift $(($# > 0))
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
