#!/usr/bin/env bash
# Builds the panel and starts it under its supervisor in the root folder var/demo.
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
ninja -C build panel panelctl supervisor mkapp ladasm laddis iecasm iecdis

ROOT="$PWD/var/demo"
mkdir -p "$ROOT/mnt/cfg" "$ROOT/mnt/USB0" "$ROOT/mnt/USB1" "$ROOT/var/log"
[ -f "$ROOT/host.conf" ] || cat > "$ROOT/host.conf" <<'CONF'
# Host configuration of this panel (see README.md).
screen = 800x480
CONF

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
    echo "Application $APP installed; run it with: build/bin/panelctl --root $ROOT reg set %SR5 2"
fi

cat <<MSG
Panel root folder: $ROOT
  console messages: $ROOT/var/log/console.log
  control socket:   $ROOT/run/panelctl.sock
  try:              build/bin/panelctl --root $ROOT status
Stop with Ctrl-C.
MSG
exec build/bin/supervisor --root "$ROOT" -- "$PWD/build/bin/panel"
