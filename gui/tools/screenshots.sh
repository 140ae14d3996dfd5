#!/usr/bin/env bash
# Takes the README's screenshots of the main window from a real window under Xvfb, on the
# simulated processor, with a private state and registry so nothing of the user's is touched.
# Usage: gui/tools/screenshots.sh [BUILD_DIR]   (default build/default; needs xvfb-run)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
bin=$build/bin
out=docs/screenshots
mkdir -p "$out"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME=$home/config XDG_STATE_HOME=$home/state QRX_SIM_STATE=$home/sim
export QRX_DRIVER=simulated
unset QT_QPA_PLATFORM

shot() { # preset mode file [UWCCR]
  "$bin/qrxsim" reset "$1"
  [ -z "${4:-}" ] || "$bin/qrxsim" set UWCCR "$4"
  xvfb-run -a -s "-screen 0 1024x768x24" "$bin/qrxshot" "$2" "$3"
  echo "$3 ($1, $2)"
}
shot k6-3+ features "$out/main-features.png"
shot k6-3+ about "$out/main-about.png"
shot intel features "$out/main-features-intel.png"
shot k6-3+ debug "$out/debug-window.png"
# The open lists, on a processor with both ranges in use (range 0 write-combined at E0000000,
# 4 MB; range 1 uncached at A0000, 128 kB), and on two without the ranges.
shot k6-3+ lists "$out/features-lists-k6-3plus.png" 000BFFFDE001FF82
shot k6-2 lists "$out/features-lists-k6-2.png"
shot intel lists "$out/features-lists-intel.png"
# The machine's facts and the suggestion: 64 MB and a 4 MB display window at E0000000.
"$bin/qrxsim" reset k6-3+
"$bin/qrxsim" memory 64 window E0000000 4MB
xvfb-run -a -s "-screen 0 1024x768x24" "$bin/qrxshot" suggest "$out/main-suggest.png"
echo "$out/main-suggest.png (k6-3+, suggest)"
