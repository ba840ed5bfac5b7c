#!/usr/bin/env bash
# Runs every benchmark program of the build (bin/bench_*), one after another.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
benches=("$build"/bin/bench_*)
if [[ ${#benches[@]} -eq 0 ]]; then
  echo "bench: no benchmark programs in $build/bin" >&2
  exit 1
fi
# The machine's load before and after: figures taken beside other work are slower and spread more.
echo "load before: $(uptime)"
for bench in "${benches[@]}"; do
  echo "== $(basename "$bench")"
  "$bench"
done
echo "load after: $(uptime)"
