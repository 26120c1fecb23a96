#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  address + undefined sanitizer build in build-asan/
# Exits non-zero when the build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
builddir=build
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=ON; builddir=build-asan ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh

# One compile job per core unless the caller says otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

cmake -S . -B "$builddir" -G Ninja -DSEALDESK_SANITIZE=$sanitize
cmake --build "$builddir"

export QT_QPA_PLATFORM=offscreen
if [ "$sanitize" = ON ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
rm -rf "$builddir/Testing/tmp"
mkdir -p "$builddir/Testing/tmp"
ctest --test-dir "$builddir" --output-on-failure -j2 --no-tests=error
