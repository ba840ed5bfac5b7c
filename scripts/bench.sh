#!/usr/bin/env bash
# Runs the benchmarks of a build folder; each prints its own figures.
set -euo pipefail
build=${1:-build}

"$build/bin/access_bench" 1000000
