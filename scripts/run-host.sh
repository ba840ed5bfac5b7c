#!/usr/bin/env bash
# Starts the host on the embedded demo database (or on what the arguments name).
set -euo pipefail
build=${1:-build}
shift || true

no_display() {
  echo "make run: no display to show the dialog on ($1); on a headless machine run: xvfb-run -a make run" >&2
  exit 3
}
# QT_QPA_PLATFORM names the window system itself (offscreen, for one); otherwise X or Wayland.
if [[ -n "${QT_QPA_PLATFORM:-}" ]]; then
  :
elif [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  no_display "DISPLAY is not set"
elif [[ -n "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]] && ! xdpyinfo >/dev/null 2>&1; then
  no_display "the X display $DISPLAY cannot be reached"
fi
# The host exits 1 when the dialog is closed without OK, which is how a session ends: success here.
# Any other failure (3: the dialog could not be shown) stays a failure.
status=0
"$build/bin/quillon-host" "$@" || status=$?
[[ $status -eq 1 ]] && exit 0
exit "$status"
