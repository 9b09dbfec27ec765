#!/usr/bin/env bash
# Installs what is missing, builds, and starts caiji.
#
# Without arguments it starts the offline demo: the demo site on
# 127.0.0.1:8391 and the window on a copy of the sample workspace
# (build/demo-workspace), so records arrive within seconds. Without a display
# it collects the demo tasks with `caiji run` and prints the number of records
# each task stored. With arguments, they go to caiji itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh" >&2
if (($#)); then
    exec "$build/caiji" "$@"
fi

workspace=$build/demo-workspace
if [ ! -d "$workspace" ]; then
    cp -r "$root/examples/workspace" "$workspace"
    find "$workspace" -name .keep -delete
fi

log=$build/demo-site.log
"$build/caiji-demo-site" --port 8391 "$root/examples/demo-site" >"$log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -s "$log" ] && break
    sleep 0.1
done
if ! kill -0 "$server" 2>/dev/null; then
    echo "demo site not started ($(cat "$log")); using whatever serves 127.0.0.1:8391" >&2
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$build/caiji" --workspace "$workspace"
else
    echo "no display: collecting the demo tasks without a window" >&2
    "$build/caiji" run --workspace "$workspace" --tick-ms 100
    echo "records stored per task:"
    "$build/caiji" count --workspace "$workspace"
fi
