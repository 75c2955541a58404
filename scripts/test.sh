#!/usr/bin/env bash
# Builds everything and runs every test: the native tests on the simulated machine
# (plain, under AddressSanitizer with UndefinedBehaviorSanitizer, under ThreadSanitizer),
# then the Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

for preset in native native-asan native-tsan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
