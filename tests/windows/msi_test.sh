#!/bin/bash
# Installs the Windows Installer package under Wine as an administrator's fleet tool
# would, silently, into a folder under "C:\Program Files" whose name has a blank and
# that already holds the stand-ins for the agent and its plugins, with an agent
# configuration file whose path has a blank too. Checked: that an install without the
# configuration file is refused; the registration (the same as the executable's own
# "install" makes, the path quoted), the settings file written from the properties,
# the service running with the agent and both plugins; that the installed executable's
# "install" and "uninstall" beside the running service end with the error codes that
# say they changed nothing, and change nothing; that a newer package installed
# without any property keeps the folder and the settings and runs the service again;
# and that removing the package leaves nothing registered, running or installed while
# the agent's own files stay.
#
# Whatever happens, every installed copy of the package is removed and the service is
# stopped and deleted at the end: Wine starts an automatic service again in every later
# session of the prefix.
#
# usage: msi_test.sh <package .msi> <directory of the stand-ins>
#                    <quillmark_snaptel.exe> <wait_for_service_end.exe>
# The executables build the newer package, with packaging/build-msi.sh.
set -u

if [ "$#" -ne 4 ] || [ ! -f "$1" ] || [ ! -d "$2" ] || [ ! -f "$3" ] || [ ! -f "$4" ]; then
    echo "usage: $0 <package .msi> <directory of the stand-ins> <quillmark_snaptel.exe> <wait_for_service_end.exe>" >&2
    exit 2
fi
msi=$(cd -- "$(dirname -- "$1")" && pwd)/$(basename -- "$1")
standins=$2
service_exe=$3
wait_exe=$4
build_msi=$(dirname -- "$0")/../../packaging/build-msi.sh
. "$(dirname -- "$0")/wine-checks.sh"
remembered_key='HKLM\Software\Quillmark\quillmark_snaptel'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
install_dir="$drive_c/Program Files/Quillmark MSI Test"
install_windows=$(windows_path "$install_dir")
exe_windows="$install_windows\\quillmark_snaptel.exe"
config_dir="$drive_c/Quillmark MSI Config"
config_windows="$(windows_path "$config_dir")\\snap config.yaml"
launches=$install_dir/snapteld-launches.txt
folder_mark="Quillmark MSI Test\\"

# --- Running Wine commands -------------------------------------------------------------

# Runs msiexec with a verbose log of its own, named $1, kept for the transcript.
run_msiexec() {
    local name=$1
    shift
    run_wine 180 msiexec "$@" /l*v "$(windows_path "$scratch/msiexec-$name.log")"
}

# The product codes of every installed copy of the package, one a line.
installed_products() {
    timeout 60 "$wine_run" reg query "$uninstall_key" /s >"$scratch/uninstall" 2>/dev/null
    tr -d '\r' <"$scratch/uninstall" | awk '
        /^HKEY_/ { key = $0; sub(/.*\\/, "", key) }
        $1 == "DisplayName" && $3 == "quillmark_snaptel" { print key }'
}

# --- Checks shared by the scenarios --------------------------------------------------------

# The registration is the one "quillmark_snaptel.exe install" makes, the path quoted.
expect_registration() {
    run_wine 60 reg query "$registry_key"
    if [ "$cmd_rc" -ne 0 ]; then
        fail "the service's registry key is missing"
        return
    fi
    local registration=$cmd_out
    expect_value() {
        local name=$1 type=$2 value=$3
        if ! grep -qxF "    $name    $type    $value" <<<"$registration"; then
            fail "registration: expected $name $type $value, found: $(grep -E "^ +$name " <<<"$registration")"
        fi
    }
    expect_value DisplayName REG_SZ "$service"
    expect_value Start REG_DWORD 0x2
    expect_value Type REG_DWORD 0x10
    expect_value ErrorControl REG_DWORD 0x0
    expect_value ObjectName REG_SZ LocalSystem
    # The package registers through "install", which describes the service too.
    expect_value Description REG_SZ "Keeps the Snap telemetry host agent (snapteld.exe) and its system plugins running: launches them, checks every minute that they run and restarts them when they do not."
    local image_path
    image_path=$(grep -E '^ +ImagePath ' <<<"$registration" | sed -E 's/^ +ImagePath +REG_[A-Z_]+ +//')
    if [ "$image_path" != "\"$exe_windows\"" ]; then
        fail "ImagePath is '$image_path', expected '\"$exe_windows\"'"
    fi
    run_wine 60 reg query "$event_source_key"
    registration=$cmd_out
    expect_value EventMessageFile REG_EXPAND_SZ "$exe_windows"
    expect_value TypesSupported REG_DWORD 0x7
}

# The settings file beside the executable holds exactly these keys, with these values.
expect_settings() {
    local level=$1 settings=$install_dir/quillmark_snaptel.ini
    if [ ! -f "$settings" ]; then
        fail "no settings file beside the executable"
        return
    fi
    local actual expected
    actual=$(tr -d '\r' <"$settings" | grep -v '^[[:space:]]*$')
    expected=$(printf '%s\n' '[SERVICE]' "LogLevel=$level" \
        "LogFile=$install_windows\\quillmark_snaptel.log" '[AGENT]' "ConfigFile=$config_windows")
    if [ "$actual" != "$expected" ]; then
        fail "the settings file holds:"
        sed 's/^/      /' <<<"$actual"
        echo "    expected:"
        sed 's/^/      /' <<<"$expected"
    fi
}

# The service runs, with one agent started with the configuration file and both plugins.
expect_running_group() {
    if ! wait_for_state RUNNING 30; then
        fail "the service did not reach RUNNING within 30 s"
    fi
    if ! wait_until 30 group_running; then
        fail "the agent and both plugins are not running, one of each, 30 s after the install"
        show_processes
    fi
    if [ ! -f "$launches" ] ||
        [ "$(tail -n 1 "$launches" | awk -F'\t' '{ print NF "|" $3 "|" $4 }')" != "4|--config|$config_windows" ]; then
        fail "the agent was not launched with --config and the configuration file whole: $(cat "$launches" 2>/dev/null)"
    fi
    # The log named by the settings file: the service's working directory is elsewhere.
    if ! grep -q 'ServiceWorkerThread host agent is running.' "$install_dir/quillmark_snaptel.log" 2>/dev/null; then
        fail "the service's log beside the executable does not say that the agent runs"
    fi
}

# Runs the installed executable with the command word $1 through cmd, which shows the
# whole exit code (Wine hands the shell only its low 8 bits). Sets exit_code.
run_command() {
    local script=$scratch/exit-code.bat
    printf '%s\r\n' '@echo off' "\"$exe_windows\" %1" 'echo exit code %errorlevel%' >"$script"
    run_wine 120 cmd /c "$(windows_path "$script")" "$1"
    exit_code=$(sed -n 's/^exit code //p' <<<"$cmd_out")
}

# --- Setting up and clearing away -------------------------------------------------------------

# Removes every installed copy of the package, then whatever the removal left: the
# service, programs of the folder, the remembered settings and the files.
clear_stage() {
    local product
    for product in $(installed_products); do
        timeout 180 "$wine_run" msiexec /x "$product" /qn >/dev/null 2>&1
    done
    remove_service
    timeout 60 "$wine_run" reg delete "$remembered_key" /f >/dev/null 2>&1
    rm -rf "$install_dir" "$config_dir"
}

finish() {
    if [ "$failures" -ne 0 ] || [ "$completed" -ne 1 ]; then
        show_transcript
        local file
        for file in "$scratch"/msiexec-*.log; do
            [ -f "$file" ] || continue
            echo "  --- $(basename "$file") (actions, errors and warnings):"
            tr -d '\r' <"$file" |
                grep -E 'Action (start|ended)|[Ee]rror|[Ww]arn|Return value [^1]' | sed 's/^/    | /'
        done
        echo "  --- launches recorded beside the agent:"
        sed 's/^/    /' "$launches" 2>/dev/null
    fi
    clear_stage
    registered && fail "the service is still registered after clearing away"
    [ -n "$(installed_products)" ] && fail "the package is still installed after clearing away"
    finish_run
}
trap finish EXIT

clear_stage
mkdir -p "$install_dir" "$config_dir" || exit 1
for name in "$agent" "$collector" "$publisher"; do
    cp "$standins/$name" "$install_dir/$name" || exit 1
done
printf 'plugins: []\r\n' >"$config_dir/snap config.yaml"
msi_windows=$(windows_path "$msi")

# A newer package from the same executables, as the next release would be.
version=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
IFS=. read -r major minor patch <<<"$version"
newer_version=$major.$minor.$((patch + 1))
newer_msi=$scratch/quillmark_snaptel-$newer_version-win64.msi
if ! bash "$build_msi" "$service_exe" "$wait_exe" "$newer_version" "$newer_msi" >"$scratch/build-msi.log" 2>&1; then
    cat "$scratch/build-msi.log"
    echo "building the newer package failed"
    exit 1
fi

# --- Scenarios -------------------------------------------------------------------------------

echo "Scenario install without CONFIGFILE: refused, nothing installed"
run_msiexec refused /i "$msi_windows" /qn "INSTALLDIR=$install_windows"
if [ "$cmd_rc" -eq 0 ]; then
    fail "msiexec /i without CONFIGFILE exited with 0"
fi
if [ -e "$install_dir/quillmark_snaptel.exe" ] || registered || [ -n "$(installed_products)" ]; then
    fail "the refused install left the executable, the registration or the product behind"
fi

echo "Scenario silent install: registered as by 'install', settings from the properties, running"
install_start=$SECONDS
run_msiexec install /i "$msi_windows" /qn "INSTALLDIR=$install_windows" \
    "CONFIGFILE=$config_windows" LOGLEVEL=0
echo "  msiexec /i took $((SECONDS - install_start)) s"
if [ "$cmd_rc" -ne 0 ]; then
    fail "msiexec /i exited with $cmd_rc"
fi
if [ ! -f "$install_dir/quillmark_snaptel.exe" ]; then
    fail "quillmark_snaptel.exe is not in the folder named by INSTALLDIR"
fi
expect_registration
expect_settings 0
expect_running_group
first_agent=$(installed_pids "$agent")

echo "Scenario commands beside the running service: 'install' ends with 1073, 'uninstall' with 1056, neither changes it"
# The package's own custom action fails the installation on any code but 0.
register_type=$(msiinfo export "$msi" CustomAction | tr -d '\r' |
    awk -F'\t' '$1 == "RegisterService" { print $2 }')
if [ -z "$register_type" ] || [ $((register_type & 0x40)) -ne 0 ]; then
    fail "the RegisterService custom action (type '$register_type') ignores the exit code"
fi
run_command install
if [ "$exit_code" != 1073 ]; then
    fail "a second 'install' ended with '$exit_code', expected 1073 (the service exists)"
fi
if ! grep -qF ':<ERROR>:  install_service CreateService returned an error.' "$install_dir/quillmark_snaptel.log"; then
    fail "the log does not say that CreateService failed"
fi
expect_registration
run_command uninstall
if [ "$exit_code" != 1056 ]; then
    fail "'uninstall' of the running service ended with '$exit_code', expected 1056"
fi
if ! grep -qF ':<ERROR>:  uninstall_service service is RUNNING, not stopped: nothing was removed. Stop it with "sc stop quillmark_snaptel", wait until "sc query quillmark_snaptel" says STOPPED, then uninstall again.' "$install_dir/quillmark_snaptel.log"; then
    fail "the log does not say that the running service was left"
fi
if grep -qF 'uninstall_service service uninstalled succesfully.' "$install_dir/quillmark_snaptel.log"; then
    fail "the log claims the removal of the running service"
fi
if ! registered || ! service_in_state RUNNING; then
    fail "the service is no longer registered and running after 'uninstall'"
fi
if [ "$(installed_pids "$agent")" != "$first_agent" ]; then
    fail "the agent changed during the commands"
fi

echo "Scenario upgrade without properties: the newer package keeps the folder and the settings"
upgrade_start=$SECONDS
run_msiexec upgrade /i "$(windows_path "$newer_msi")" /qn
echo "  msiexec /i of $newer_version took $((SECONDS - upgrade_start)) s"
if [ "$cmd_rc" -ne 0 ]; then
    fail "msiexec /i of the newer package exited with $cmd_rc"
fi
products=$(installed_products)
if [ "$(wc -w <<<"$products")" -ne 1 ]; then
    fail "expected one installed copy of the package after the upgrade, found: $products"
fi
run_wine 60 reg query "$uninstall_key\\$products" /v DisplayVersion
if ! grep -q "DisplayVersion    REG_SZ    $newer_version\$" <<<"$cmd_out"; then
    fail "the installed version is not $newer_version: $cmd_out"
fi
expect_registration
expect_settings 0
expect_running_group
if [ "$(installed_pids "$agent")" = "$first_agent" ]; then
    fail "the agent was not restarted by the upgrade"
fi

echo "Scenario silent removal: nothing registered, running or installed; the agent stays"
remove_start=$SECONDS
run_msiexec remove /x "$(windows_path "$newer_msi")" /qn
echo "  msiexec /x took $((SECONDS - remove_start)) s"
if [ "$cmd_rc" -ne 0 ]; then
    fail "msiexec /x exited with $cmd_rc"
fi
# The package waits for the service's process to end before it deletes the files, and
# the service ends the agent and plugins before it reports the stop.
if [ -n "$(processes_with "$folder_mark")" ]; then
    fail "programs of the installed folder still run after the removal"
    show_processes
fi
if registered; then
    fail "the service's registry key is still there"
fi
run_wine 30 sc query "$service"
if [ "$cmd_rc" -eq 0 ]; then
    fail "'sc query' still finds the service"
fi
for name in quillmark_snaptel.exe quillmark_snaptel.ini quillmark_snaptel.log; do
    if [ -e "$install_dir/$name" ]; then
        fail "$name is still in the folder"
    fi
done
for name in "$agent" "$collector" "$publisher"; do
    if [ ! -f "$install_dir/$name" ]; then
        fail "the removal deleted $name, which the package did not install"
    fi
done
if [ -n "$(installed_products)" ]; then
    fail "the package is still listed as installed"
fi
if timeout 60 "$wine_run" reg query "$remembered_key" >/dev/null 2>&1; then
    fail "the remembered settings are still in the registry"
fi
if timeout 60 "$wine_run" reg query "$event_source_key" >/dev/null 2>&1; then
    fail "the event source is still registered"
fi

completed=1
