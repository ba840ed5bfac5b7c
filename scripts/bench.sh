#!/usr/bin/env bash
# The benchmarks: each prints its figures. Usage: scripts/bench.sh <build folder>
set -euo pipefail
build=${1:-build}

"$build/bin/quillon-bench-excel" 1000000
