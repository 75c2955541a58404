#!/bin/bash
# Runs the service executable under Wine's own Service Control Manager, installed as on
# a real machine: in a folder under "C:\Program Files" whose name has a blank, beside
# the stand-ins for the agent and its plugins (the agent's file named in other letter case,
# as Windows names have none), with a settings file naming a log outside that folder and an
# agent configuration file whose path has a blank too. It installs, installs again,
# starts, runs the executable from a console with a stray word, uninstalls while running,
# sees a first health cycle find the group running, ends a plugin from outside and waits
# for the next health cycle to restart the group, stops, starts again with the agent's file
# moved away and a plugin ended so that the restart fails (three health cycles in all,
# about three minutes), and uninstalls.
#
# Only a start by the service manager begins a new log (console runs add to its end), and
# a service started by "sc start" reads its settings only once. So before each command the settings file is
# rewritten to name a log of that command's own: the commands run while the service
# runs leave the service's log alone, and the service's whole log is checked at the end.
#
# Whatever happens, the service is stopped and removed at the end: Wine starts an
# automatic service again in every later session of the prefix.
#
# usage: service_test.sh <path of quillmark_snaptel.exe> <directory of the stand-ins>
set -u

if [ "$#" -ne 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 <path of quillmark_snaptel.exe> <directory of the stand-ins>" >&2
    exit 2
fi
exe_source=$1
standins=$2
. "$(dirname -- "$0")/wine-checks.sh"
# The file on disk; the service launches and looks for snapteld.exe.
agent_file=SnapTelD.exe

# --- Log checks ----------------------------------------------------------------------------

stamp='\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]'

# Reads the log into log_lines, each without its time stamp; a line without one fails, and
# so does a carriage return (the system's text for an error comes without its own line
# break, so no empty line follows it).
read_log() {
    log_lines=()
    if [ ! -f "$log" ]; then
        fail "no log at $log"
        return 1
    fi
    local line
    while IFS= read -r line || [ -n "$line" ]; do
        if [[ $line == *$'\r'* ]]; then
            fail "log line with a carriage return: '$line'"
        elif [[ $line =~ ^$stamp(.*)$ ]]; then
            log_lines+=("${BASH_REMATCH[1]}")
        else
            fail "log line without a time stamp: '$line'"
            log_lines+=("$line")
        fi
    done <"$log"
}

has_line() {
    local wanted=$1 line
    for line in "${log_lines[@]}"; do
        [ "$line" = "$wanted" ] && return 0
    done
    return 1
}

expect_line() {
    has_line "$1" || fail "the log lacks '$1'"
}

expect_no_line() {
    has_line "$1" && fail "the log has '$1'"
}

# The given lines appear in the log in this order, other lines possibly between them.
expect_in_order() {
    local index=0 wanted
    for wanted in "$@"; do
        while [ "$index" -lt "${#log_lines[@]}" ] && [ "${log_lines[$index]}" != "$wanted" ]; do
            index=$((index + 1))
        done
        if [ "$index" -ge "${#log_lines[@]}" ]; then
            fail "the log lacks '$wanted' after the lines before it"
            return 1
        fi
        index=$((index + 1))
    done
}

expect_no_errors() {
    local line
    for line in "${log_lines[@]}"; do
        if [[ $line == ':<ERROR>:'* ]]; then
            fail "unexpected error line '$line'"
        fi
    done
}

show_log() {
    echo "  --- $log:"
    sed 's/^/    | /' "$log" 2>/dev/null
}

finish() {
    if [ "$failures" -ne 0 ] || [ "$completed" -ne 1 ]; then
        show_transcript
        local file
        for file in "$logs_dir"/*.log; do
            [ -f "$file" ] || continue
            echo "  --- $file:"
            sed 's/^/    | /' "$file"
        done
        echo "  --- launches recorded beside the agent:"
        sed 's/^/    /' "$launches" 2>/dev/null
    fi
    clear_stage
    registered && fail "the service is still registered after clearing away"
    finish_run
}
trap finish EXIT
stage_service_folder "Quillmark Service Test" "$exe_source" "$standins" "$agent_file"

# --- Scenarios -------------------------------------------------------------------------------

echo "Scenario install: the executable registers itself as an automatic own-process service"
before=$failures
run_executable install install
read_log
expect_in_order ':<D>:  wmain enter' ':<D>:  install_service enter' \
    ':<I>:  install_service installing service ...' \
    ':<I>:  install_service service installed succesfully.' ':<D>:  install_service exit' \
    ':<D>:  wmain exit'
# Wine stores the description, takes the failure actions without keeping them, and refuses
# to apply them to non-crash failures: that refusal is the one error, with the system's text.
errors=$(grep -o ':<ERROR>:.*' "$log" | tr -d '\r')
flag_refused=':<ERROR>:  install_service ChangeServiceConfig2 returned an error. Unable to apply failure actions to non-crash failures.'
if [ "$(head -n 1 <<<"$errors")" != "$flag_refused" ] || [ "$(wc -l <<<"$errors")" -ne 2 ] ||
    ! [[ $(tail -n 1 <<<"$errors") =~ ^:\<ERROR\>:\ \ install_service\ .*[^[:space:]] ]]; then
    fail "the install's error lines are not the refused failure actions flag and the system's text: $errors"
fi
# Checks a value of the key read into $registration.
expect_value() {
    local name=$1 type=$2 value=$3
    if ! grep -qxF "    $name    $type    $value" <<<"$registration"; then
        fail "registration: expected $name $type $value, found: $(grep -E "^ +$name " <<<"$registration")"
    fi
}
run_wine 60 reg query "$registry_key"
if [ "$cmd_rc" -ne 0 ]; then
    fail "the service's registry key is missing"
else
    registration=$cmd_out
    expect_value DisplayName REG_SZ "$service"
    expect_value Start REG_DWORD 0x2
    expect_value Type REG_DWORD 0x10
    expect_value ErrorControl REG_DWORD 0x0
    expect_value ObjectName REG_SZ LocalSystem
    expect_value Description REG_SZ "Keeps the Snap telemetry host agent (snapteld.exe) and its system plugins running: launches them, checks every minute that they run and restarts them when they do not."
    # Quoted and alone: the manager must never split the path at its blanks.
    image_path=$(grep -E '^ +ImagePath ' <<<"$registration" | sed -E 's/^ +ImagePath +REG_[A-Z_]+ +//')
    if [ "$image_path" != "\"$exe_windows\"" ]; then
        fail "ImagePath is '$image_path', expected '\"$exe_windows\"'"
    fi
fi
# The event source names the executable, whose message table holds the events' texts.
run_wine 60 reg query "$event_source_key"
registration=$cmd_out
expect_value EventMessageFile REG_EXPAND_SZ "$exe_windows"
expect_value TypesSupported REG_DWORD 0x7
[ "$failures" -ne "$before" ] && show_log

echo "Scenario install twice: the second registration fails, is logged, and ends with 1073"
before=$failures
run_executable install-again install 1073
read_log
expect_in_order ':<D>:  wmain enter' ':<D>:  install_service enter' \
    ':<ERROR>:  install_service CreateService returned an error.' ':<D>:  wmain exit'
expect_no_line ':<D>:  install_service exit'
expect_no_line ':<I>:  install_service service installed succesfully.'
# The system's own words follow, whatever they are on this system.
for i in "${!log_lines[@]}"; do
    if [ "${log_lines[$i]}" = ':<ERROR>:  install_service CreateService returned an error.' ]; then
        next=${log_lines[$((i + 1))]:-}
        if ! [[ $next =~ ^:\<ERROR\>:\ \ install_service\ .*[^[:space:]] ]]; then
            fail "the line after the CreateService error is '$next', expected the system's text"
        fi
    fi
done
if ! registered; then
    fail "the registration is gone after the second install"
fi
[ "$failures" -ne "$before" ] && show_log

echo "Scenario start: the manager starts the service, which launches the agent and both plugins"
before=$failures
use_log service
service_log=$log
start_service
if ! group_running; then
    fail "the agent and both plugins are not running, one of each, 30 s after the start"
    show_processes
fi
first_agent=$(installed_pids "$agent")
first_collector=$(installed_pids "$collector")
first_publisher=$(installed_pids "$publisher")
if [ "$(launch_count)" -ne 1 ]; then
    fail "the agent was launched $(launch_count) times, expected once"
elif [ "$(awk -F'\t' '{ print NF "|" $3 "|" $4 }' "$launches")" != "4|--config|$config_windows" ]; then
    fail "the agent's arguments are not --config and the configuration file whole: $(cat "$launches")"
fi
[ "$failures" -ne "$before" ] && show_processes

echo "Scenario console: a stray word from a console ends nothing and deletes nothing"
before=$failures
mkdir -p "$temp_dir"
printf 'agent state\r\n' >"$temp_dir/console-check.txt"
run_executable console-help --help
read_log
expect_in_order ':<D>:  wmain enter' ':<D>:  run_service enter' \
    ':<D>:  run_service starting service ...' \
    ':<ERROR>:  run_service StartServiceCtrlDispatcher returned an error.' ':<D>:  wmain exit'
expect_no_line ':<D>:  cleanup enter'
if [ ! -f "$temp_dir/console-check.txt" ]; then
    fail "the file in the temporary directory is gone"
fi
if [ "$(installed_pids "$agent")" != "$first_agent" ] ||
    [ "$(installed_pids "$collector")" != "$first_collector" ] ||
    [ "$(installed_pids "$publisher")" != "$first_publisher" ]; then
    fail "the agent group changed during the console run"
    show_processes
fi
[ "$failures" -ne "$before" ] && show_log

echo "Scenario uninstall while running: nothing is removed, it ends with 1056, the service runs on"
before=$failures
# The service's settings were read when it started; the command's log is its own.
run_executable uninstall-running uninstall 1056
read_log
expect_in_order ':<D>:  wmain enter' ':<D>:  uninstall_service enter' \
    ':<I>:  uninstall_service uninstalling service ...' \
    ':<ERROR>:  uninstall_service service is RUNNING, not stopped: nothing was removed. Stop it with "sc stop quillmark_snaptel", wait until "sc query quillmark_snaptel" says STOPPED, then uninstall again.' \
    ':<D>:  wmain exit'
expect_no_line ':<I>:  uninstall_service service uninstalled succesfully.'
expect_no_line ':<D>:  uninstall_service exit'
expect_no_line ':<D>:  uninstall_service service registry entries deleted succesfully.'
[ "$failures" -ne "$before" ] && show_log
if ! registered; then
    fail "the registration is gone after an uninstall while running"
fi
run_wine 30 sc query "$service"
if ! grep -Eq 'STATE +: 4 +RUNNING' <<<"$cmd_out"; then
    fail "the service no longer reports RUNNING: $(grep STATE <<<"$cmd_out")"
fi
if [ "$(installed_pids "$agent")" != "$first_agent" ] ||
    [ "$(installed_pids "$collector")" != "$first_collector" ] ||
    [ "$(installed_pids "$publisher")" != "$first_publisher" ]; then
    fail "the agent group changed during the uninstall"
    show_processes
fi

echo "Scenario first health cycle: the agent, its file named $agent_file, is found and left running"
before=$failures
log=$service_log
if ! wait_for_line ':<D>:  ServiceWorkerThread all system plugins are running.' "$log" 75; then
    fail "no health cycle found the plugins running within 75 s of the start"
fi
read_log
expect_no_line ':<ERROR>:  ServiceWorkerThread Detected that host agent is not running.'
expect_no_line ':<D>:  ServiceWorkerThread restarting host agent.'
if [ "$(launch_count)" -ne 1 ] || [ "$(installed_pids "$agent")" != "$first_agent" ]; then
    fail "the agent was launched again after the first health cycle"
    show_processes
fi
[ "$failures" -ne "$before" ] && show_log

echo "Scenario plugin ended from outside: the next health cycle restarts the group (up to 75 s)"
before=$failures
run_wine 30 taskkill /F /IM "$collector"
if [ "$cmd_rc" -ne 0 ]; then
    fail "taskkill of $collector exited with $cmd_rc"
fi
kill_time=$SECONDS
group_restarted() {
    [ "$(launch_count)" -ge 2 ] && group_running && [ "$(installed_pids "$agent")" != "$first_agent" ]
}
if wait_until 75 group_restarted; then
    echo "  restarted $((SECONDS - kill_time)) s after the plugin was ended"
    if [ "$(installed_pids "$collector")" = "$first_collector" ] ||
        [ "$(installed_pids "$publisher")" = "$first_publisher" ]; then
        fail "the plugins were not restarted with the agent"
    fi
    if [ "$(launch_count)" -ne 2 ]; then
        fail "the agent was launched $(launch_count) times in all, expected twice"
    fi
else
    fail "the group was not restarted within 75 s of the plugin's end"
    show_processes
fi

echo "Scenario stop: the service stops the group and reports STOPPED; its log ends with the stop"
before=$failures
stop_service
wait_until_folder_idle
log=$service_log
read_log
# The whole run is in the service's log: no command emptied it meanwhile.
expect_in_order ':<D>:  wmain enter' ':<D>:  run_service enter' ':<D>:  ServiceMain enter' \
    ':<ERROR>:  ServiceWorkerThread Detected that not all system plugins are running.' \
    ':<D>:  ServiceWorkerThread restarting host agent.' ':<D>:  ServiceCtrlHandler enter'
stop_tail=(
    ':<D>:  ServiceCtrlHandler send stop signal.'
    ':<D>:  ServiceCtrlHandler exit'
    ':<D>:  ServiceWorkerThread exit'
    ':<D>:  ServiceMain worker thread has stopped.'
    ':<D>:  ServiceMain status to stopped.'
    ':<D>:  ServiceMain exit'
    ':<D>:  run_service exit'
    ':<D>:  wmain exit'
)
# From the last ServiceCtrlHandler enter on: the stop_agent lines, whatever they hold
# between their first and last, then exactly the stop's closing lines.
handler_at=-1
for i in "${!log_lines[@]}"; do
    [ "${log_lines[$i]}" = ':<D>:  ServiceCtrlHandler enter' ] && handler_at=$i
done
if [ "$handler_at" -lt 0 ]; then
    fail "the service's log has no ServiceCtrlHandler enter"
elif [ "${log_lines[$((handler_at + 1))]:-}" != ':<D>:  stop_agent enter' ]; then
    fail "ServiceCtrlHandler enter is followed by '${log_lines[$((handler_at + 1))]:-}', expected stop_agent enter"
else
    agent_exit_at=-1
    for ((i = handler_at + 2; i < ${#log_lines[@]}; i++)); do
        if [ "${log_lines[$i]}" = ':<D>:  stop_agent exit' ]; then
            agent_exit_at=$i
            break
        fi
    done
    if [ "$agent_exit_at" -lt 0 ]; then
        fail "no stop_agent exit after the last ServiceCtrlHandler enter"
    else
        actual_tail=("${log_lines[@]:$((agent_exit_at + 1))}")
        if [ "${actual_tail[*]}" != "${stop_tail[*]}" ]; then
            fail "the lines after stop_agent exit are not the stop's closing lines"
            echo "    expected:"
            printf '      %s\n' "${stop_tail[@]}"
            echo "    found:"
            printf '      %s\n' "${actual_tail[@]}"
        fi
    fi
fi
[ "$failures" -ne "$before" ] && show_log

echo "Scenario failed restart: the agent's file moved away, the restart fails and the service stops with 575 (up to 80 s)"
before=$failures
use_log failed-restart
start_service
# An upgrade of the agent renames its file away for a moment; a plugin ends meanwhile.
mv "$install_dir/$agent_file" "$install_dir/$agent_file.moved"
run_wine 30 taskkill /F /IM "$collector"
if ! wait_for_state STOPPED 80; then
    fail "the service did not stop within 80 s of the plugin's end"
elif ! grep -Eq 'WIN32_EXIT_CODE +: 575 ' <<<"$cmd_out"; then
    fail "sc query shows $(grep WIN32_EXIT_CODE <<<"$cmd_out") after the failed restart, expected 575"
fi
mv "$install_dir/$agent_file.moved" "$install_dir/$agent_file"
wait_until_folder_idle
read_log
expect_in_order ':<D>:  ServiceWorkerThread restarting host agent.' \
    ':<ERROR>:  start_agent CreateProcess returned an error. Unable to create process for host agent.' \
    ':<ERROR>:  ServiceWorkerThread unable to launch host agent.' \
    ':<D>:  ServiceMain status to stopped.' ':<D>:  wmain exit'
[ "$failures" -ne "$before" ] && show_log

echo "Scenario uninstall when stopped: the registration is deleted"
before=$failures
run_executable uninstall-stopped uninstall
read_log
expect_in_order ':<D>:  wmain enter' ':<D>:  uninstall_service enter' \
    ':<D>:  uninstall_service service registry entries deleted succesfully.' \
    ':<D>:  uninstall_service exit' ':<D>:  wmain exit'
expect_no_errors
[ "$failures" -ne "$before" ] && show_log
if registered; then
    fail "the service's registry key is still there"
fi
if timeout 60 "$wine_run" reg query "$event_source_key" >/dev/null 2>&1; then
    fail "the event source is still registered"
fi
run_wine 30 sc query "$service"
if [ "$cmd_rc" -eq 0 ]; then
    fail "'sc query' still finds the service"
fi

completed=1
