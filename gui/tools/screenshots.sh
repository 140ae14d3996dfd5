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
unset QT_QPA_PLATFORM

shot() { # preset page file
  "$bin/qrxsim" reset "$1"
  xvfb-run -a -s "-screen 0 800x600x24" "$bin/qrxshot" "$2" "$3"
  echo "$3 ($1, $2 page)"
}
shot k6-3+ features "$out/main-features.png"
shot k6-3+ about "$out/main-about.png"
shot intel features "$out/main-features-intel.png"
