#!/usr/bin/env bash
# Installs what is missing, builds the programs it runs, and starts caiji.
#
# Without arguments it starts the offline demo: the demo site on
# 127.0.0.1:8391 (the port the demo tasks fetch from; when something else
# holds it, it stops and says so) and the window on a copy of the sample
# workspace (build/demo-workspace), so records arrive within seconds. Without
# a display it collects the demo tasks with `caiji run` and prints the number
# of records each task stored. With arguments, they go to caiji itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CAIJI_BUILD_DIR:-$root/build}
port=8391
# The tests and benchmarks are built by scripts/test.sh, not here.
bash "$root/scripts/setup.sh" caiji caiji-demo-site help_doc >&2
if (($#)); then
    exec "$build/caiji" "$@"
fi

workspace=$build/demo-workspace
if [ ! -d "$workspace" ]; then
    cp -r "$root/examples/workspace" "$workspace"
    find "$workspace" -name .keep -delete
fi

# The server prints its port once it listens, or ends with 3 when the port is
# taken.
log=$build/demo-site.log
coproc SERVER { exec "$build/caiji-demo-site" --port "$port" "$root/examples/demo-site" 2>"$log"; }
server=$SERVER_PID
trap 'kill "$server" 2>/dev/null || true' EXIT
if ! read -r -t 10 -u "${SERVER[0]}" listening; then
    status=0
    wait "$server" || status=$?
    if ((status == 3)); then
        echo "127.0.0.1:$port is in use, and the demo tasks fetch from it: end the program" \
            "that holds it (an earlier run.sh or caiji-demo-site?) and start again." >&2
    else
        echo "the demo site did not start: $(cat "$log")" >&2
    fi
    exit 1
fi
echo "demo site: http://127.0.0.1:$listening/" >&2

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$build/caiji" --workspace "$workspace"
else
    echo "no display: collecting the demo tasks without a window" >&2
    "$build/caiji" run --workspace "$workspace" --tick-ms 100
    echo "records stored per task:"
    "$build/caiji" count --workspace "$workspace"
fi
