#!/usr/bin/env bash
# Builds the Windows Installer package of the service with wixl, then adds to it with
# msibuild (both from msitools) what wixl cannot express:
#   - the settings file quillmark_snaptel.ini beside the executable, written from the
#     installation's properties by Windows Installer's own IniFile rows, which wixl
#     lacks;
#   - the removal of that file and of the log with the package;
#   - the event source's registry values, one of them expandable;
#   - the run of wait_for_service_end.exe between stopping the service and deleting its
#     registration and files (wixl cannot run a program of the Binary table);
#   - the properties an administrator may give on the command line, marked secure, so
#     that they reach the elevated part of the installation (wixl has no Secure).
#
# usage: build-msi.sh <quillmark_snaptel.exe> <wait_for_service_end.exe> <version x.y.z>
#                     <output .msi>
set -euo pipefail

if [ "$#" -ne 4 ] || [ ! -f "$1" ] || [ ! -f "$2" ]; then
    echo "usage: $0 <quillmark_snaptel.exe> <wait_for_service_end.exe> <version x.y.z> <output .msi>" >&2
    exit 2
fi
exe=$1
wait_exe=$2
version=$3
output=$4
source_dir=$(cd -- "$(dirname -- "$0")" && pwd)

if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "build-msi.sh: the version must be x.y.z, got '$version'" >&2
    exit 2
fi

# wixl finds a source file only relative to its working directory.
staging=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-msi.XXXXXX")
trap 'rm -rf "$staging"' EXIT
cp "$exe" "$staging/quillmark_snaptel.exe"
cp "$wait_exe" "$staging/wait_for_service_end.exe"
mkdir -p "$(dirname -- "$output")"
output=$(cd -- "$(dirname -- "$output")" && pwd)/$(basename -- "$output")
partial=$output.partial
rm -f "$partial"

(cd "$staging" && wixl --arch x64 -D "Version=$version" -D ServiceExe=quillmark_snaptel.exe \
    -D WaitExe=wait_for_service_end.exe -o "$partial" "$source_dir/quillmark_snaptel.wxs")

component=ServiceExecutable
ini="quillm~1.ini|quillmark_snaptel.ini"
log="quillm~1.log|quillmark_snaptel.log"

q=()
query() {
    q+=(-q "$1")
}

query "UPDATE \`Property\` SET \`Value\`='INSTALLDIR;CONFIGFILE;LOGLEVEL;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE \`Property\`='SecureCustomProperties'"

query "CREATE TABLE \`IniFile\` (\`IniFile\` CHAR(72) NOT NULL, \`FileName\` CHAR(255) NOT NULL LOCALIZABLE, \`DirProperty\` CHAR(72), \`Section\` CHAR(96) NOT NULL LOCALIZABLE, \`Key\` CHAR(128) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) NOT NULL LOCALIZABLE, \`Action\` SHORT NOT NULL, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`IniFile\`)"
# Action 0 adds the line or replaces its value, leaving other lines of an existing file.
# The log lies beside the executable, by its absolute path: the service's working
# directory is the system folder.
ini_row() {
    query "INSERT INTO \`IniFile\` (\`IniFile\`, \`FileName\`, \`DirProperty\`, \`Section\`, \`Key\`, \`Value\`, \`Action\`, \`Component_\`) VALUES ('$1', '$ini', 'INSTALLDIR', '$2', '$3', '$4', 0, '$component')"
}
ini_row SettingLogLevel SERVICE LogLevel '[LOGLEVEL]'
ini_row SettingLogFile SERVICE LogFile '[INSTALLDIR]quillmark_snaptel.log'
ini_row SettingConfigFile AGENT ConfigFile '[CONFIGFILE]'

# InstallMode 2: on removal only; the folder and the agent in it stay.
remove_row() {
    query "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('$1', '$component', '$2', 'INSTALLDIR', 2)"
}
remove_row RemoveSettings "$ini"
remove_row RemoveLog "$log"

# The event source, as "install" registers it, so that Event Viewer finds the events'
# texts in the executable's message table: the file's path as REG_EXPAND_SZ ("#%"), which
# wixl cannot write. The values go with the package, and the key with them once empty, so
# that no source is left naming a removed file. Root 2: HKEY_LOCAL_MACHINE.
event_source='SYSTEM\CurrentControlSet\Services\EventLog\Application\quillmark_snaptel'
registry_row() {
    query "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('$1', 2, '$event_source', '$2', '$3', '$component')"
}
registry_row EventSourceMessageFile EventMessageFile '#%[#ServiceExe]'
registry_row EventSourceTypes TypesSupported '#7'

# Type 3138: a program of the Binary table (2), its exit code ignored (0x40), deferred
# (0x400), as the local system account (0x800). Between StopServices (1900) and
# DeleteServices (2000), on install too: ServiceControl stops a registration found then.
query "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('WaitForServiceEnd', 3138, 'WaitForServiceEnd', '')"
query "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WaitForServiceEnd', 1950)"

# The standard places of the two actions, which wixl leaves out without IniFile rows.
query "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveIniValues', 3100)"
query "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteIniValues', 5100)"

msibuild "$partial" "${q[@]}"
mv -f "$partial" "$output"
echo "built $output"
