#!/bin/bash
# Runs the worker thread for one full health cycle (about a minute), installed as the
# service would be: in a folder under "C:\Program Files" whose name has a blank, beside
# the stand-ins for the agent and its plugins and a settings file that names a
# configuration file whose path has a blank too. A copy of the stand-in planted as
# C:\Program.exe catches any launch with an unquoted path: it records such a launch in
# C:\snapteld-launches.txt. The checks are in worker_thread_scenario.cpp; this script
# sets the stage, checks the decoy and clears everything away, whatever the result.
#
# usage: worker_thread_test.sh <supervision_tests.exe> <directory of the stand-ins>
set -u

if [ "$#" -ne 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
    echo "usage: $0 <supervision_tests.exe> <directory of the stand-ins>" >&2
    exit 2
fi
tests_exe=$1
standins=$2
. "$(dirname -- "$0")/wine-checks.sh"
install_dir="$drive_c/Program Files/Quillmark Test"
install_windows=$(windows_path "$install_dir")
config_dir="$drive_c/Quillmark Config"
decoy=$drive_c/Program.exe
decoy_record=$drive_c/snapteld-launches.txt
log=$install_dir/quillmark_snaptel.log

# Ends any agent or plugin a failed run left behind (taskkill fails when none runs),
# then removes what the script put in place.
clear_stage() {
    for name in "$agent" "$collector" "$publisher" Program.exe; do
        timeout 30 "$wine_run" taskkill /F /IM "$name" >/dev/null 2>&1
    done
    rm -rf "$install_dir" "$config_dir" "$decoy" "$decoy_record"
    finish_run
}
trap clear_stage EXIT

rm -rf "$install_dir" "$config_dir" "$decoy" "$decoy_record"
mkdir -p "$install_dir" "$config_dir" || exit 1
cp "$tests_exe" "$install_dir/supervision_tests.exe" || exit 1
for name in "$agent" "$collector" "$publisher"; do
    cp "$standins/$name" "$install_dir/$name" || exit 1
done
cp "$standins/$agent" "$decoy" || exit 1
printf 'plugins: []\r\n' >"$config_dir/snap config.yaml"
printf '%s\r\n' '[SERVICE]' 'LogLevel=0' "LogFile=$install_windows\\quillmark_snaptel.log" \
    '[AGENT]' 'ConfigFile=C:\Quillmark Config\snap config.yaml' \
    >"$install_dir/quillmark_snaptel.ini"

echo "Running the worker thread for one health cycle (about 70 s)"
QM_WORKER_SCENARIO=1 run_wine --as supervision_tests 200 "$install_windows\\supervision_tests.exe"

if [ "$cmd_rc" -ne 0 ] && [ "$cmd_rc" -ne 124 ]; then
    fail "supervision_tests exited with $cmd_rc"
fi
if ! grep -qF '[       OK ] WorkerThread.RestartsTheGroupWhenAPluginEndsAndStopsOnRequest' "$scratch/out"; then
    fail "WorkerThread.RestartsTheGroupWhenAPluginEndsAndStopsOnRequest did not run and pass"
fi
if [ -e "$decoy_record" ]; then
    fail "C:\\Program.exe was launched:"
    sed 's/^/    /' "$decoy_record"
fi

if [ "$failures" -ne 0 ]; then
    show_output
    echo "  --- launches recorded beside the agent:"
    sed 's/^/    /' "$install_dir/snapteld-launches.txt" 2>/dev/null
    echo "  --- the service's log:"
    sed 's/^/    | /' "$log" 2>/dev/null
fi
completed=1
