#!/bin/bash
# Checks the service executable's diagnostic log, run under Wine from a console with a
# command word that is neither install nor uninstall: it then tries to run as the
# service, which a process not started by the service manager cannot, and logs that
# failure. Checked: where the log goes (beside the executable, whatever the working
# directory), what its first and last lines are, how the settings beside the executable
# change it, that a link planted at the log's name and a LogFile naming the settings file
# are refused, and that error lines reach the event log.
#
# Not started by the service manager, the executable ends no process and deletes nothing;
# the service scenario checks that against a running service. Last, with the stand-ins
# for the agent and its plugins, the service's own log: a console command beside the
# running service adds its lines at the end, and a new start keeps the run before's lines
# as the .1 log.
#
# usage: entry_log_test.sh <path of quillmark_snaptel.exe> <directory of the stand-ins>
set -u

if [ "$#" -ne 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 <path of quillmark_snaptel.exe> <directory of the stand-ins>" >&2
    exit 2
fi
exe_source=$1
standins=$2
. "$(dirname -- "$0")/wine-checks.sh"
install_dir="$drive_c/Program Files/Quillmark Entry Log Test"
# How the installed folder appears in a command line, ahead of the program's name.
folder_mark="Quillmark Entry Log Test\\"

# Wine starts an automatic service again in every later session of the prefix: the
# service goes whatever happens.
finish() {
    remove_service
    rm -rf "$install_dir"
    finish_run
}
trap finish EXIT

stamp='\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]'
enter_line="^${stamp}:<D>:  wmain enter\$"
exit_line="^${stamp}:<D>:  wmain exit\$"
dispatcher_error=':<ERROR>:  run_service StartServiceCtrlDispatcher returned an error.'

# Runs the executable of case directory $1 from that case's own working directory, so
# that the working directory and the executable's directory differ. Sets case_bin and
# case_work; the output stays in $scratch/out and $scratch/err.
run_case() {
    local name=$1 settings=$2
    local dir=$scratch/$name
    case_bin=$dir/bin
    case_work=$dir/work
    mkdir -p "$case_bin" "$case_work"
    cp "$exe_source" "$case_bin/quillmark_snaptel.exe"
    if [ -n "$settings" ]; then
        printf '%s' "$settings" >"$case_bin/quillmark_snaptel.ini"
    fi
    pushd "$case_work" >/dev/null || exit 1
    run_wine --as "the executable" 120 "$case_bin/quillmark_snaptel.exe" status
    popd >/dev/null || exit 1
}

expect_rc_zero() {
    if [ "$cmd_rc" -ne 0 ]; then
        fail "exit code $cmd_rc, expected 0"
    fi
}

echo "Case a: LogLevel=0 logs wmain's entry and exit to quillmark_snaptel.log beside the executable"
before=$failures
run_case a $'[SERVICE]\r\nLogLevel=0\r\n'
log=$case_bin/quillmark_snaptel.log
expect_rc_zero
if [ ! -f "$log" ]; then
    fail "no quillmark_snaptel.log beside the executable"
    ls -la "$case_work" "$case_bin" | sed 's/^/    /'
else
    first=$(head -n 1 "$log")
    last=$(tail -n 1 "$log")
    if ! [[ $first =~ $enter_line ]]; then
        fail "first line is '$first', expected '[YYYY-MM-DD HH:MM:SS]:<D>:  wmain enter'"
    fi
    if ! [[ $last =~ $exit_line ]]; then
        fail "last line is '$last', expected '[YYYY-MM-DD HH:MM:SS]:<D>:  wmain exit'"
    fi
    if ! grep -qF "$dispatcher_error" "$log"; then
        fail "the log lacks '$dispatcher_error'"
    fi
    # The system's text for an error is written without its closing CR LF: every line,
    # the error lines too, ends in LF alone, and no empty line follows one.
    if LC_ALL=C grep -q $'\r' "$log"; then
        fail "a line holds a CR byte: lines must end in LF alone"
    fi
    if grep -q '^$' "$log"; then
        fail "the log has an empty line"
    fi
    if [ -n "$(tail -c 1 "$log")" ]; then
        fail "the last line does not end in LF"
    fi
    if [ -n "$(ls -A "$case_work")" ]; then
        fail "files were created in the working directory: $(ls -A "$case_work" | tr '\n' ' ')"
    fi
    if [ "$failures" -ne "$before" ]; then
        echo "  --- log:"
        sed 's/^/    | /' "$log"
    fi
fi
[ "$failures" -ne "$before" ] && show_output

echo "Case b: without a settings file the log beside the executable holds error lines only"
before=$failures
run_case b ''
expect_rc_zero
log=$case_bin/quillmark_snaptel.log
if [ ! -f "$log" ]; then
    fail "no quillmark_snaptel.log beside the executable"
else
    if ! grep -qF "$dispatcher_error" "$log"; then
        fail "the log lacks '$dispatcher_error'"
    fi
    if grep -Eq "^${stamp}:<(D|I)>:" "$log"; then
        fail "the default LogLevel wrote debug or info lines"
    fi
    [ "$failures" -ne "$before" ] && sed 's/^/    | /' "$log"
fi
[ "$failures" -ne "$before" ] && show_output

echo "Case c: LogLevel=4 is no level: the log's first line says so and 3 applies"
before=$failures
run_case c $'[SERVICE]\r\nLogLevel=4\r\n'
expect_rc_zero
log=$case_bin/quillmark_snaptel.log
refusal=':<ERROR>:  get_logger LogLevel "4" is not a level from 0 to 3; 3 is used.'
if [ ! -f "$log" ]; then
    fail "no quillmark_snaptel.log beside the executable"
else
    if [ "$(head -n 1 "$log" | cut -c 22-)" != "$refusal" ]; then
        fail "the first line is not '$refusal'"
    fi
    if grep -Eq "^${stamp}:<(D|I)>:" "$log" || ! grep -qF "$dispatcher_error" "$log"; then
        fail "level 3 was not applied"
    fi
    [ "$failures" -ne "$before" ] && sed 's/^/    | /' "$log"
fi
[ "$failures" -ne "$before" ] && show_output

echo "Case d: LogFile in a missing directory ends the program with an error on standard error"
before=$failures
missing_dir=$scratch/d/missing
missing_log=$(windows_path "$missing_dir/x.log")
run_case d "[SERVICE]"$'\r\n'"LogFile=$missing_log"$'\r\n'
if [ "$cmd_rc" -eq 0 ]; then
    fail "exit code 0, expected a failure"
fi
if ! grep -q 'Unable to open an output stream' "$scratch/err"; then
    fail "standard error lacks 'Unable to open an output stream'"
fi
if ! grep -qF "$missing_log" "$scratch/err"; then
    fail "standard error does not name the file $missing_log"
fi
if [ -e "$missing_dir" ]; then
    fail "the missing directory was created"
fi
if [ -n "$(ls -A "$case_work")" ]; then
    fail "files were created in the working directory: $(ls -A "$case_work" | tr '\n' ' ')"
fi
[ "$failures" -ne "$before" ] && show_output

echo "Case e: a link and a second name planted at LogFile are refused, their target left as it was"
for kind in symbolic hard; do
    before=$failures
    dir=$scratch/e-$kind
    mkdir -p "$dir"
    printf 'precious\n' >"$dir/victim.txt"
    if [ "$kind" = symbolic ]; then
        ln -s "$dir/victim.txt" "$dir/planted.log"
        reason="it leads to $(windows_path "$dir/victim.txt")"
    else
        ln "$dir/victim.txt" "$dir/planted.log"
        reason='it is one of 2 names of a file'
    fi
    planted=$(windows_path "$dir/planted.log")
    run_case "e-$kind" "[SERVICE]"$'\r\n'"LogFile=$planted"$'\r\n'
    [ "$cmd_rc" -eq 1 ] || fail "$kind link: exit code $cmd_rc, expected 1"
    # Standard error is in text mode: each line ends in CR LF.
    if ! tr -d '\r' <"$scratch/err" |
        grep -qxF "quillmark_snaptel: Unable to open an output stream: $planted: $reason"; then
        fail "$kind link: standard error does not name the file and '$reason'"
    fi
    [ "$(cat "$dir/victim.txt")" = precious ] || fail "$kind link: its target was changed"
    [ "$failures" -ne "$before" ] && show_output
done

echo "Case g: a LogFile that names the settings file is refused, the file left as it was"
before=$failures
settings_text="[SERVICE]"$'\r\n'"LogFile=$(windows_path "$scratch/g/bin")/../bin/QUILLMARK_SNAPTEL.INI"$'\r\n'
run_case g "$settings_text"
[ "$cmd_rc" -eq 1 ] || fail "exit code $cmd_rc, expected 1"
if ! tr -d '\r' <"$scratch/err" | grep -qF ": it is the settings file"; then
    fail "standard error does not say 'it is the settings file'"
fi
printf '%s' "$settings_text" | cmp -s - "$case_bin/quillmark_snaptel.ini" ||
    fail "the settings file was changed"
[ "$failures" -ne "$before" ] && show_output

# Wine writes each event's text to its eventlog trace channel, and the event's type and ID
# to the advapi one.
echo "Case f: the run's error lines reach the event log, with their ID"
before=$failures
export QM_WINEDEBUG=-all,err+eventlog,fixme+advapi
run_case f $'[SERVICE]\r\nLogLevel=3\r\n'
unset QM_WINEDEBUG
events=$(grep -F ':err:eventlog:ReportEventW ' "$scratch/err")
if [ "$(grep -c . <<<"$events")" -ne 1 ] ||
    ! grep -qE ':err:eventlog:ReportEventW L"run_service StartServiceCtrlDispatcher returned an error\. [^"]+"$' <<<"$events"; then
    fail "expected one event with the dispatcher's failure and the system's text, found: $events"
fi
if grep -qE '(\\[rn]| )"$' <<<"$events"; then
    fail "the event's text ends with the system's line break: $events"
fi
if ! grep -qE ':fixme:advapi:ReportEventW \([0-9A-F]+,0x0001,0x0000,0x00000006,' "$scratch/err"; then
    fail "the event is not an error event with ID 6 (a failed call to the service manager)"
fi
[ "$failures" -ne "$before" ] && show_output

echo "Case h: a console install beside the running service adds to its log; a new start keeps the run before as the .1 log"
before=$failures
remove_service
rm -rf "$install_dir"
mkdir -p "$install_dir" || exit 1
cp "$exe_source" "$install_dir/quillmark_snaptel.exe" || exit 1
for name in "$agent" "$collector" "$publisher"; do
    cp "$standins/$name" "$install_dir/$name" || exit 1
done
printf 'plugins: []\r\n' >"$install_dir/config.yaml"
printf '%s\r\n' '[SERVICE]' 'LogLevel=0' '[AGENT]' \
    "ConfigFile=$(windows_path "$install_dir")\\config.yaml" >"$install_dir/quillmark_snaptel.ini"
exe_windows="$(windows_path "$install_dir")\\quillmark_snaptel.exe"
log=$install_dir/quillmark_snaptel.log
kept=$install_dir/quillmark_snaptel.1.log
waiting_line=':<D>:  ServiceMain waiting for worker thread to stop ...'
run_wine 120 "$exe_windows" install
registered || fail "the install did not register the service"
# A new Wine session starts an automatic service by itself: only "sc start" may here.
# Wine's sc has no "config"; its manager reads the start type from the registry.
run_wine 60 reg add "$registry_key" /v Start /t REG_DWORD /d 3 /f
run_wine 60 sc start "$service"
wait_for_state RUNNING 60 || fail "the service is not running after 'sc start'"
wait_for_line "$waiting_line" "$log" 30 || fail "the service's log lacks '$waiting_line'"
grep -qF ':<D>:  install_service enter' "$kept" 2>/dev/null ||
    fail "the install's lines before the first start are not in the .1 log"
[[ $(head -n 1 "$log") =~ $enter_line ]] || fail "the service's log does not begin with wmain enter"
cp "$log" "$scratch/service-before.log"
run_wine 120 "$exe_windows" install
cmp -s -n "$(stat -c %s "$scratch/service-before.log")" "$scratch/service-before.log" "$log" ||
    fail "the console install changed the service's lines"
[ "$(grep -c ':<D>:  install_service enter' "$log")" -eq 1 ] ||
    fail "the console install's lines are not at the end of the service's log"
# The Wine session must outlive the stop: a start while its service manager shuts down
# is ended with it.
"$wine_run" cmd /c "ping -n 40 127.0.0.1 >nul" >/dev/null 2>&1 &
session_keeper=$!
sleep 2
run_wine 60 sc stop "$service"
wait_for_state STOPPED 60 || fail "the service did not stop"
# A start while the stopped process still ends would be ended with it.
folder_idle() { [ -z "$(processes_with "$folder_mark")" ]; }
wait_until 30 folder_idle || fail "programs of the installed folder still run after the stop"
cp "$log" "$scratch/first-run.log"
run_wine 60 sc start "$service"
wait_for_state RUNNING 60 || fail "the service is not running after the second 'sc start'"
wait_for_line "$waiting_line" "$log" 30 || fail "the new log lacks '$waiting_line'"
kill "$session_keeper" 2>/dev/null
cmp -s "$scratch/first-run.log" "$kept" || fail "the .1 log is not the first run's whole log"
[[ $(head -n 1 "$log") =~ $enter_line ]] || fail "the new log does not begin with wmain enter"
grep -qF 'install_service' "$log" && fail "the new log holds the first run's lines"
if [ "$failures" -ne "$before" ]; then
    show_transcript
    for file in "$log" "$kept"; do
        echo "  --- $file:"
        sed 's/^/    | /' "$file" 2>/dev/null
    done
fi

completed=1
