#!/usr/bin/env bash
# The command line of caiji-demo-site: what it accepts, what it refuses with
# exit status 2, and the port it prints first when it serves.
server=$1
site=$2
failed=0
# expect STATUS PATTERN ARGUMENT... : the exit status, and a glob pattern
# for the first line of standard output and error together.
expect()
{
    local status=$1 output=$2 got code
    shift 2
    got=$(timeout 10 "$server" "$@" 2>&1)
    code=$?
    got=${got%%$'\n'*}
    # shellcheck disable=SC2053 # a pattern
    if [[ $code != "$status" || $got != $output ]]; then
        printf 'FAIL caiji-demo-site %s\n  expected: %s %s\n  got:      %s %s\n' "$*" \
            "$status" "$output" "$code" "$got"
        failed=1
    fi
}

expect 0 "caiji-demo-site [0-9]*.[0-9]*" --version
expect 0 "Usage: *caiji-demo-site [[]options[]] [[]DIR[]]" --help
expect 2 "caiji-demo-site: --port needs a number from 0 to 65535" --port 65536 "$site"
expect 2 "caiji-demo-site: --port needs a number from 0 to 65535" --port=x "$site"
expect 2 "caiji-demo-site: *'--port'*" --port
expect 2 "caiji-demo-site: *'bogus'*" --bogus "$site"
expect 2 "caiji-demo-site: one site folder at most" "$site" "$site"
expect 2 "caiji-demo-site: no site folder /nonexistent" /nonexistent

# Serving: the first line is the port, with --port N and --port=N alike; a
# second server on that port ends with 3.
for port in "--port 0" "--port=0"; do
    # shellcheck disable=SC2086 # the option and its value are two words
    coproc SERVER { exec "$server" $port "$site"; }
    if ! read -r -t 10 -u "${SERVER[0]}" line || [[ ! $line =~ ^[1-9][0-9]*$ ]]; then
        echo "FAIL caiji-demo-site $port: first line '${line-}' is not a port"
        failed=1
    fi
    expect 3 "caiji-demo-site: cannot listen on 127.0.0.1:$line: the port is in use*" \
        --port "$line" "$site"
    kill "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
done

[ "$failed" = 0 ] && echo "caiji-demo-site arguments ok"
exit "$failed"
