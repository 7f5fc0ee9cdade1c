#!/usr/bin/env bash
# Builds the panel and starts it under its supervisor in the root folder var/demo.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
export CCACHE_DIR="${CCACHE_DIR:-$PWD/.cache/ccache}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_TESTS=OFF -DPANEL_BENCH=OFF >/dev/null
ninja -C build panel panelctl supervisor

ROOT="$PWD/var/demo"
mkdir -p "$ROOT/mnt/cfg" "$ROOT/mnt/USB0" "$ROOT/mnt/USB1" "$ROOT/var/log"
[ -f "$ROOT/host.conf" ] || cat > "$ROOT/host.conf" <<'CONF'
# Host configuration of this panel (see README.md).
screen = 800x480
CONF

cat <<MSG
Panel root folder: $ROOT
  console messages: $ROOT/var/log/console.log
  control socket:   $ROOT/run/panelctl.sock
  try:              build/bin/panelctl --root $ROOT status
Stop with Ctrl-C.
MSG
exec build/bin/supervisor --root "$ROOT" -- "$PWD/build/bin/panel"
