#!/usr/bin/env bash
# Sets up the machine, builds the system and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"

echo "Built every library, test and benchmark under build/default."
echo "The operator application is not part of the system yet; there is nothing to start."
