#!/usr/bin/env bash
# Starts the host on the embedded demo database (or on what the arguments name).
set -euo pipefail
build=${1:-build}
shift || true

no_display() {
  echo "make run: no display to show the dialog on ($1); on a headless machine run: xvfb-run -a make run" >&2
  exit 1
}
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  no_display "DISPLAY is not set"
elif [[ -n "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]] && ! xdpyinfo >/dev/null 2>&1; then
  no_display "the X display $DISPLAY cannot be reached"
fi
exec "$build/bin/quillon-host" "$@"
