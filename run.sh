#!/usr/bin/env bash
# Builds the panel and its tools and starts it under its supervisor in the
# default root folder var/panel (one panel per root folder: a second start
# is refused while it runs).
#
#   ./run.sh [APP.json]
#
# With an application description (see tools/lib/appbuild.h), for example
# examples/scan_count.json, its files are built with mkapp and put into the
# panel's internal flash before it starts.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"
export CCACHE_DIR="${CCACHE_DIR:-$PWD/.cache/ccache}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_TESTS=OFF -DPANEL_BENCH=OFF >/dev/null
ninja -C build panel panelctl supervisor mkapp ladasm laddis canbus fpgaimg player_standin iecasm iecdis

# The default root folder of the panel, its supervisor and panelctl.
ROOT="$PWD/var/panel"
# mnt/USB: where the boot screen's FPGA programming reads its image file.
mkdir -p "$ROOT/mnt/cfg" "$ROOT/mnt/USB0" "$ROOT/mnt/USB1" "$ROOT/mnt/USB" "$ROOT/var/log"
[ -f "$ROOT/host.conf" ] || cat > "$ROOT/host.conf" <<'CONF'
# Host configuration of this panel (see README.md).
screen = 800x480
CONF

# One panel per root folder: its application files are not replaced under it.
if build/bin/panelctl --root "$ROOT" status >/dev/null 2>&1; then
    echo "run.sh: a panel already runs on $ROOT (stop it first)" >&2
    exit 1
fi

if [ $# -ge 1 ]; then
    APP="$1"
    # A new unit loads its default settings over whatever application files
    # it finds: let it start once to create its register files first.
    if [ ! -f "$ROOT/mnt/cfg/autoreg.dta" ]; then
        build/bin/supervisor --root "$ROOT" -- "$PWD/build/bin/panel" >/dev/null 2>&1 &
        first=$!
        for _ in $(seq 100); do
            build/bin/panelctl --root "$ROOT" status >/dev/null 2>&1 && break
            sleep 0.1
        done
        kill -TERM "$first"
        wait "$first" || true
    fi
    build/bin/mkapp -o "$ROOT/mnt/cfg" "$APP"
    echo "Application $APP installed; run it with: build/bin/panelctl reg set %SR5 2"
fi

# Without a touch calibration the first touch asks for the calibration
# screen, which is not built yet: a calibration that takes raw values as
# screen points is written unless TOUCH_CAL=0. Six u32: the maxima W, H, the
# offsets 0, 0, the scales W, H.
if [ "${TOUCH_CAL:-1}" != 0 ] && [ ! -f "$ROOT/mnt/cfg/cal.dta" ]; then
    size=$(sed -n 's/^[[:space:]]*screen[[:space:]]*=[[:space:]]*\([0-9]*x[0-9]*\).*/\1/p' "$ROOT/host.conf" | tail -n 1)
    w=${size%x*} h=${size#*x}
    [ -n "$size" ] || { w=800; h=480; }
    python3 -c 'import struct, sys; w, h = int(sys.argv[2]), int(sys.argv[3])
open(sys.argv[1], "wb").write(struct.pack("<6I", w, h, 0, 0, w, h))' "$ROOT/mnt/cfg/cal.dta" "$w" "$h"
fi

cat <<MSG
Panel root folder: $ROOT
  console messages: $ROOT/var/log/console.log
  control socket:   $ROOT/run/panelctl.sock
  try:              build/bin/panelctl status
Stop with Ctrl-C.
MSG
exec build/bin/supervisor --root "$ROOT" -- "$PWD/build/bin/panel"
