#!/usr/bin/env bash
# Installs what is missing, builds, and starts the signing server in the
# foreground on its built-in defaults. Extra arguments go to the server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# One compile job per core unless the caller says otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
cmake -S . -B build -G Ninja
cmake --build build

if [ ! -x build/bin/sealdesk_corvina ]; then
  echo "The signing server is not built yet; nothing to start."
  exit 0
fi
exec build/bin/sealdesk_corvina "$@"
