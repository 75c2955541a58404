#!/usr/bin/env bash
# Checks the sources' formatting and runs clang-tidy on the product, then builds
# everything and runs every test: the native tests on the simulated machine (plain, under
# AddressSanitizer with UndefinedBehaviorSanitizer, under ThreadSanitizer), then the
# Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

echo "=== clang-format ==="
find src tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
    xargs -0 clang-format --dry-run --Werror

# The checks in .clang-tidy, on the product's sources the native build compiles: the
# Windows backend (src/platform/win32) has no compile commands there. Its output, a line
# or two for every file, is shown only when it fails.
echo "=== clang-tidy ==="
cmake --preset native >/dev/null
if ! tidy_output=$(run-clang-tidy -p build/native -j 2 -quiet "^$PWD/src/" 2>&1); then
    echo "$tidy_output"
    exit 1
fi

for preset in native native-asan native-tsan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
