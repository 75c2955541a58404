#!/usr/bin/env bash
# Runs the service under Wine, with stand-ins for the host agent and its plugins, from
# install to uninstall: it builds the Windows executable, puts it under
# "C:\Program Files\Quillmark\Snap" in a Wine prefix of its own (build/demo-wineprefix),
# installs the service, checks the installation, starts the service, ends a plugin from
# outside and waits for the next health cycle to restart the group, then stops and
# uninstalls the service. It says what
# it does and what it sees at each step, and ends by itself about two minutes after the
# build, leaving nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

say() {
    printf '\n==> %s\n' "$*"
}
seen() {
    printf '    %s\n' "$*"
}

say "Installing what is missing: scripts/install-dependencies.sh"
scripts/install-dependencies.sh
seen "dependencies are in place"

say "Building the service and the stand-ins: cmake --preset windows; cmake --build --preset windows --target quillmark_snaptel standin"
cmake --preset windows >/dev/null
cmake --build --preset windows --target quillmark_snaptel standin
build=$repo/build/windows
built_at=$SECONDS
seen "built $build/src/quillmark_snaptel.exe and the stand-ins in $build/standins"

# A prefix of the demo's own: the tests' prefix (build/wineprefix) is never touched.
export QM_WINEPREFIX=$repo/build/demo-wineprefix
# Wine commands run as the tests run them: standard input from /dev/null and output to a
# file, never a pipe, for the first program of a session hands its standard handles on to
# Wine's system processes, which keep them.
. "$repo/tests/windows/wine-checks.sh"
# The demo shows what it sees and checks nothing: a Wine command cut off at its time
# limit shows in its exit code, not as a failed check.
quiet=1
install_dir=$drive_c/Program\ Files/Quillmark/Snap
install_windows=$(windows_path "$install_dir")
exe_windows="$install_windows\\quillmark_snaptel.exe"
# Beside the executable: a folder only administrators may write, as the log must be.
log_windows="$install_windows\\quillmark_snaptel.log"
log=$install_dir/quillmark_snaptel.log
config_windows="$install_windows\\snapteld config.yaml"
session_started=0

show_sc_query() {
    run_wine 30 sc query "$service"
    sed 's/^/    | /' <<<"$cmd_out"
}

# The prefix's agent and plugin processes, as Windows sees them: "name pid" lines.
programs() {
    run_wine 30 wmic process get name,processid
    iconv -f UTF-16LE -t UTF-8 "$scratch/out" | tr -d '\r' | sed 's/^\xef\xbb\xbf//' |
        awk '$1 ~ /^(snapteld|snap-plugin-|quillmark_snaptel)/ { print $1, $2 }'
}

show_programs() {
    local found
    found=$(programs)
    if [ -n "$found" ]; then
        sed 's/^/    | /' <<<"$found"
    else
        seen "(no agent, plugin or service process runs)"
    fi
}

pid_of() {
    programs | awk -v name="$1" '$1 == name { print $2 }' | paste -sd' ' -
}

# A start by the service manager begins a new log (the run before is kept as the .1 log),
# so the lines shown are counted from that start on; console commands add to its end.
log_shown=0
show_new_log_lines() {
    [ -f "$log" ] || return 0
    local total
    total=$(wc -l <"$log")
    if [ "$total" -gt "$log_shown" ]; then
        tail -n "+$((log_shown + 1))" "$log" | head -n "$((total - log_shown))" |
            tr -d '\r' | sed 's/^/    | /'
        log_shown=$total
    fi
}

# Whatever happened, nothing of the demo is left running or registered: Wine would start
# an automatic service again in every later session of the prefix.
clear_away() {
    local status=$?
    set +e
    if [ "$session_started" -eq 1 ]; then
        if registered; then
            echo "==> Clearing away: stopping and deleting the service"
            remove_service
        fi
        echo "==> Ending the demo's Wine session: wineserver -k"
        sh "$repo/tests/windows/wine-prefix.sh" teardown
    fi
    rm -rf "$install_dir" "$scratch"
    if [ "$status" -ne 0 ]; then
        echo "The demo failed (exit code $status)."
    fi
    exit "$status"
}
trap clear_away EXIT

say "Preparing the demo's Wine prefix $WINEPREFIX and a session that stays up"
session_started=1
sh "$repo/tests/windows/wine-prefix.sh" setup
seen "Wine session ready"
if registered; then
    seen "a service from an earlier run is still registered; removing it"
    remove_service
fi

say "Putting the service and the stand-ins under $install_windows"
rm -rf "$install_dir"
mkdir -p "$install_dir" "$(dirname "$log")"
cp "$build/src/quillmark_snaptel.exe" "$install_dir/"
for name in "$agent" "$collector" "$publisher"; do
    cp "$build/standins/$name" "$install_dir/$name"
done
printf 'plugins: []\r\n' >"$install_dir/snapteld config.yaml"
printf '%s\r\n' '[SERVICE]' 'LogLevel=0' "LogFile=$log_windows" '[AGENT]' \
    "ConfigFile=$config_windows" >"$install_dir/quillmark_snaptel.ini"
seen "folder: $(cd "$install_dir" && ls | tr '\n' ' ')"
seen "settings (quillmark_snaptel.ini):"
tr -d '\r' <"$install_dir/quillmark_snaptel.ini" | sed 's/^/    | /'

say "Registering the service: wine '$exe_windows' install"
run_wine 120 "$exe_windows" install
log_shown=0
seen "exit code $cmd_rc; the log $log_windows says:"
show_new_log_lines
run_wine 60 reg query "$registry_key"
seen "the registration (wine reg query '$registry_key'):"
grep -E '^ +[A-Za-z]' <<<"$cmd_out" | sed 's/^ */    | /'
run_wine 60 reg query "$event_source_key"
seen "the event source its error lines are reported under (wine reg query '$event_source_key'):"
grep -E '^ +[A-Za-z]' <<<"$cmd_out" | sed 's/^ */    | /'

say "Checking the installation before the start: wine '$exe_windows' check"
run_wine 120 "$exe_windows" check
seen "exit code $cmd_rc (0: no problem); the report, one line per check:"
sed 's/^/    | /' <<<"$cmd_out"

say "Starting the service: wine sc start $service"
run_wine 60 sc start "$service"
seen "sc start exit code $cmd_rc"
log_shown=0
if wait_for_state RUNNING 30; then
    seen "the service reports RUNNING (wine sc query $service):"
else
    seen "the service did not reach RUNNING within 30 s:"
fi
show_sc_query
start_time=$SECONDS
for _ in $(seq 1 20); do
    [ "$(programs | wc -l)" -ge 4 ] && break
    sleep 1
done
seen "processes of the prefix (wine wmic process get name,processid):"
show_programs
first_agent=$(pid_of snapteld.exe)
seen "the service's log so far:"
show_new_log_lines

sleep 3
say "Ending a plugin from outside: wine taskkill /F /IM $collector"
run_wine 30 taskkill /F /IM "$collector"
seen "$cmd_out"
seen "processes now:"
show_programs

say "Waiting for the next health cycle (about a minute after the start) to restart the group"
restarted=0
while [ $((SECONDS - start_time)) -lt 90 ]; do
    sleep 5
    agent=$(pid_of snapteld.exe)
    plugin=$(pid_of "$collector")
    if [ -n "$plugin" ] && [ -n "$agent" ] && [ "$agent" != "$first_agent" ]; then
        restarted=1
        break
    fi
    seen "$((SECONDS - start_time)) s after the start: agent pid ${agent:-none}, $collector pid ${plugin:-none}"
done
if [ "$restarted" -eq 1 ]; then
    seen "restarted $((SECONDS - start_time)) s after the start: agent pid $first_agent -> $agent; processes now:"
else
    seen "no restart was seen within 90 s of the start; processes now:"
fi
show_programs
seen "the service's log since the start:"
show_new_log_lines

say "Stopping the service: wine sc stop $service"
run_wine 60 sc stop "$service"
seen "sc stop exit code $cmd_rc"
if wait_for_state STOPPED 30; then
    seen "the service reports STOPPED (wine sc query $service):"
else
    seen "the service did not reach STOPPED within 30 s:"
fi
show_sc_query
# The process writes its last lines after it has reported the stop.
sleep 2
seen "processes now:"
show_programs
seen "the service's last log lines:"
show_new_log_lines

say "Uninstalling the service: wine '$exe_windows' uninstall"
run_wine 120 "$exe_windows" uninstall
seen "exit code $cmd_rc; the log says:"
show_new_log_lines
if registered; then
    seen "the service is still registered"
else
    seen "the registration is gone (wine reg query finds no key)"
fi
run_wine 60 reg query "$event_source_key"
if [ "$cmd_rc" -eq 0 ]; then
    seen "the event source is still registered"
else
    seen "the event source is gone too"
fi

say "Done: $((SECONDS - built_at)) s after the build ($SECONDS s in all); clearing away the installed files and ending the Wine session"
