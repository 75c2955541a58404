#!/bin/bash
# A signed release made by scripts/package.sh from this build with a throwaway
# certificate: the executable in the zip and the MSI carry a valid signature by it, a
# byte changed after signing fails the check, the signed executable keeps its version
# and runs as the service under Wine, and a wrong password leaves no package. The
# packages go to a folder of the test's own; package.sh signs copies, so the build's
# files, which the other tests run, stay as they are.
#
# usage: signed_release_test.sh <build directory> <project version> <directory of the stand-ins>
set -u

if [ "$#" -ne 3 ] || [ ! -f "$1/CMakeCache.txt" ] || [ ! -d "$3" ]; then
    echo "usage: $0 <build directory> <project version> <directory of the stand-ins>" >&2
    exit 2
fi
build=$1
version=$2
standins=$3
if ! command -v osslsigncode >/dev/null || ! command -v msiextract >/dev/null; then
    echo "osslsigncode or msiextract is missing: run scripts/install-dependencies.sh"
    exit 77
fi
script_dir=$(cd -- "$(dirname -- "$0")" && pwd)
. "$script_dir/wine-checks.sh"

install_dir="$drive_c/Program Files/Quillmark Signed Test"
install_windows=$(windows_path "$install_dir")
name=quillmark_snaptel-$version-win64
clear_service() {
    remove_service
    rm -rf "$install_dir"
}
finish() {
    clear_service
    finish_run
}
trap finish EXIT
clear_service

echo "A signed release by a throwaway certificate"
export QUILLMARK_SIGN_PASSWORD="pass word $RANDOM" QUILLMARK_SIGN_PFX=$scratch/signing.pfx
unset QUILLMARK_SIGN_TIMESTAMP_URL QUILLMARK_SIGN_TSA_CAFILE
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillmark Test Signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" \
        -passout env:QUILLMARK_SIGN_PASSWORD -out "$QUILLMARK_SIGN_PFX" || exit 1
package() {
    QM_BUILD_DIR=$build QM_PACKAGES_DIR=$scratch/packages "$script_dir/../../scripts/package.sh" >"$scratch/package.log" 2>&1
}
if ! package || [ ! -f "$scratch/packages/$name.msi" ] || ! (cd "$scratch" && cmake -E tar xf "packages/$name.zip"); then
    cat "$scratch/package.log"
    fail "package.sh did not make both packages"
    exit 1
fi
exe=$scratch/$name/quillmark_snaptel.exe
verify() {
    osslsigncode verify -CAfile "$scratch/cert.pem" -in "$1" >"$scratch/verify.log" 2>&1 &&
        grep -q 'Text description: quillmark_snaptel' "$scratch/verify.log"
}
for file in "$exe" "$scratch/packages/$name.msi"; do
    verify "$file" || fail "$(basename "$file") is not signed by the certificate: $(cat "$scratch/verify.log")"
done

echo "A byte changed after signing fails the check"
cp "$exe" "$scratch/changed.exe"
printf 'X' | dd of="$scratch/changed.exe" bs=1 seek=$(($(stat -c %s "$exe") / 2)) conv=notrunc 2>/dev/null
verify "$scratch/changed.exe" && fail "a changed executable still verifies"

echo "The signed executable keeps its version and runs as the service"
mkdir -p "$install_dir" && cp "$exe" "$standins"/*.exe "$install_dir/"
printf '[SERVICE]\r\nLogFile=%s\\service.log\r\n[AGENT]\r\nConfigFile=C:\\snap.yaml\r\n' \
    "$install_windows" >"$install_dir/quillmark_snaptel.ini"
printf 'WScript.Echo(new ActiveXObject("Scripting.FileSystemObject").GetFileVersion(WScript.Arguments(0)));\r\n' \
    >"$install_dir/version.js"
IFS=. read -r -a numbers <<<"$version.0.0.0"
run_wine 60 cscript //nologo "$install_windows\\version.js" "$install_windows\\quillmark_snaptel.exe"
[ "$cmd_out" = "$(IFS=.; echo "${numbers[*]:0:4}")" ] ||
    fail "the signed executable's version is '$cmd_out', not $version"
run_wine 60 "$install_windows\\quillmark_snaptel.exe" install
run_wine 60 sc start "$service"
wait_for_state RUNNING 30 || fail "the signed service did not reach RUNNING: $cmd_out"
run_wine 60 sc stop "$service"
wait_for_state STOPPED 30 || fail "the signed service did not stop: $cmd_out"
run_wine 60 "$install_windows\\quillmark_snaptel.exe" uninstall
run_wine 60 sc query "$service"
[ "$cmd_rc" -eq 0 ] && fail "the service is still registered after uninstall"

echo "A wrong password ends with an error and leaves no package"
QUILLMARK_SIGN_PASSWORD=wrong package && fail "package.sh succeeded with a wrong password"
[ -z "$(ls "$scratch/packages")" ] || fail "a wrong password left packages: $(ls "$scratch/packages")"
completed=1
