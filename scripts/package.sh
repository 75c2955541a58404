#!/usr/bin/env bash
# Builds the Windows release (the "windows" preset, Release) and puts its two packages
# into build/packages/:
#
#   quillmark_snaptel-<version>-win64.zip  the executable, a sample quillmark_snaptel.ini
#                                          and the README in one folder (cpack -G ZIP)
#   quillmark_snaptel-<version>-win64.msi  the Windows Installer package (wixl), for
#                                          msiexec /i ... /qn INSTALLDIR=... CONFIGFILE=...
#
# <version> is the project's (project(... VERSION) in CMakeLists.txt). Installs what is
# missing with apt-get first.
#
# Unsigned (no certificate given): when one package cannot be made the other is still
# made, and the script ends with exit code 1.
#
# Signed, for a release an enterprise deploys: given a code-signing certificate, the
# service executable and the package's helper wait_for_service_end.exe are signed
# before they go into the packages, then the MSI itself; each is signed with SHA-256,
# named "quillmark_snaptel" with the product's web page (QM_PRODUCT_URL in the build's
# cache) and, when a timestamp server is named, timestamped (RFC 3161). Every signed
# file is then checked as it ships, taken back out of the packages, against the
# certificate. If anything fails, the script ends with exit code 1 and leaves neither
# package: a release is signed whole or not made.
#
#   QUILLMARK_SIGN_PFX            the certificate and its key, a PKCS#12 (.pfx) file
#   QUILLMARK_SIGN_PASSWORD       its password
#   QUILLMARK_SIGN_TIMESTAMP_URL  optional: the timestamp server
#   QUILLMARK_SIGN_TSA_CAFILE     optional: the root certificates the timestamp server's
#                                 signature is checked against (default: the system's)
#
# QM_BUILD_DIR names another build directory for the preset (default build/windows),
# QM_PACKAGES_DIR another folder for the packages (default build/packages).
set -euo pipefail
# Files named relative to the folder the script is run from.
pfx=${QUILLMARK_SIGN_PFX:+$(realpath -m -- "$QUILLMARK_SIGN_PFX")}
tsa_roots=${QUILLMARK_SIGN_TSA_CAFILE:+$(realpath -m -- "$QUILLMARK_SIGN_TSA_CAFILE")}
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${QM_BUILD_DIR:-$repo/build/windows}
packages=${QM_PACKAGES_DIR:-$repo/build/packages}

# The password is kept in a file of a private folder before any other program starts:
# osslsigncode and openssl read it from there, so it never appears in a command line
# that another user could read, and the build's programs do not inherit it.
if [ -n "$pfx" ]; then
    secrets=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-sign.XXXXXX")
    trap 'rm -rf "$secrets"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    (umask 077 && printf '%s' "${QUILLMARK_SIGN_PASSWORD:-}" >"$secrets/password")
fi
unset QUILLMARK_SIGN_PASSWORD

scripts/install-dependencies.sh

cmake --preset windows -B "$build" >/dev/null
build=$(cd "$build" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
version=${version:-1.0.0}
name=quillmark_snaptel-$version-win64
# Before the build: a build that fails leaves no package of an earlier run behind.
mkdir -p "$packages"
rm -f "$packages/$name.zip" "$packages/$name.msi"
cmake --build "$build"

list_packages() {
    echo "Packages in $packages:"
    for file in "$name.zip" "$name.msi"; do
        if [ -f "$packages/$file" ]; then
            (cd "$packages" && sha256sum "$file") | sed 's/^/  /'
        fi
    done
}

if [ -z "$pfx" ]; then
    echo "package.sh: no certificate (QUILLMARK_SIGN_PFX is not set): the packages are not signed"
    status=0

    # CPack writes its working files beside the zip: a folder of its own keeps them apart.
    if [ -f "$build/CPackConfig.cmake" ]; then
        rm -rf "$build/cpack-zip"
        if cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$build/cpack-zip" >"$build/cpack-zip.log" 2>&1 &&
            [ -f "$build/cpack-zip/$name.zip" ]; then
            cp "$build/cpack-zip/$name.zip" "$packages/"
        else
            cat "$build/cpack-zip.log" >&2
            echo "package.sh: cpack did not make $name.zip (see above)" >&2
            status=1
        fi
    else
        echo "package.sh: no CPack configuration in $build (CPackConfig.cmake): the zip cannot be made" >&2
        status=1
    fi

    if [ -f "$build/packaging/$name.msi" ]; then
        cp "$build/packaging/$name.msi" "$packages/"
    else
        echo "package.sh: the build made no $name.msi (are wixl and msibuild installed?)" >&2
        status=1
    fi

    list_packages
    exit "$status"
fi

# --- The signed release -------------------------------------------------------------
# The build's own outputs are left as they are: the files are signed as copies in a
# folder of their own, the zip is made by CPack from an installed copy of the tree, and
# the MSI is built again by packaging/build-msi.sh from the signed executables.

die() {
    echo "package.sh: $*" >&2
    exit 1
}

# Shows a step's log when the step failed; the logs never hold the password.
run_logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        sed 's/^/  /' "$log" >&2
        return 1
    fi
}

[ -r "$pfx" ] || die "cannot read the certificate $pfx (QUILLMARK_SIGN_PFX)"
[ -f "$build/CPackConfig.cmake" ] || die "no CPack configuration in $build (CPackConfig.cmake): the zip cannot be made"
[ -f "$build/packaging/$name.msi" ] || die "the build made no $name.msi (are wixl and msibuild installed?)"
url=$(sed -n 's/^QM_PRODUCT_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$url" ] || die "no QM_PRODUCT_URL in $build/CMakeCache.txt"

stage=$build/signed-release
rm -rf "$stage"
mkdir -p "$stage/check"

# The certificates the signatures are checked against: those of the .pfx, so that a
# certificate of one's own verifies too, and the system's roots, for a chain that ends
# in a public authority's root the .pfx does not carry. The signer's own certificate is
# required as well, so no other certificate the roots vouch for passes. OpenSSL 3 reads
# older .pfx files (RC2 encryption, as exported by older Windows) only with -legacy.
pfx_certificates() {
    openssl pkcs12 -in "$pfx" -passin "file:$secrets/password" -nokeys "$@" 2>/dev/null ||
        openssl pkcs12 -legacy -in "$pfx" -passin "file:$secrets/password" -nokeys "$@" 2>/dev/null
}
pfx_certificates -out "$secrets/chain.pem" ||
    die "cannot open the certificate $pfx with the password given (QUILLMARK_SIGN_PASSWORD)"
leaf_hash=$(pfx_certificates -clcerts | openssl x509 -outform DER | sha256sum | cut -d' ' -f1)
signer=$(pfx_certificates -clcerts | openssl x509 -noout -subject -nameopt oneline | sed 's/^subject= *//')
cat "$secrets/chain.pem" >"$secrets/trusted.pem"
if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$secrets/trusted.pem"
fi

timestamp=()
timestamp_check=()
if [ -n "${QUILLMARK_SIGN_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$QUILLMARK_SIGN_TIMESTAMP_URL")
fi
if [ -n "$tsa_roots" ]; then
    timestamp_check=(-TSA-CAfile "$tsa_roots")
fi

# Signs $1 into $2, keeping its mode (osslsigncode writes over no existing file).
sign() {
    rm -f "$2"
    run_logged "$stage/sign.log" osslsigncode sign -pkcs12 "$pfx" -readpass "$secrets/password" \
        -h sha256 -n quillmark_snaptel -i "$url" "${timestamp[@]}" -in "$1" -out "$2" ||
        die "signing $(basename -- "$1") failed (see above)"
    chmod --reference="$1" "$2"
}

# Checks the signature of $1, a file as it ships, named $2 in the messages.
verify() {
    run_logged "$stage/verify.log" osslsigncode verify -CAfile "$secrets/trusted.pem" \
        "${timestamp_check[@]}" -require-leaf-hash "sha256:$leaf_hash" -in "$1" ||
        die "the signature of $2 does not verify against the certificate (see above)"
    # A timestamp that does not verify leaves the signature valid only until the
    # certificate expires, and osslsigncode still reports success.
    if [ ${#timestamp[@]} -gt 0 ] &&
        ! grep -q '^Timestamp Server Signature verification: ok' "$stage/verify.log"; then
        sed 's/^/  /' "$stage/verify.log" >&2
        die "the timestamp of $2 does not verify (see above; QUILLMARK_SIGN_TSA_CAFILE names the server's roots)"
    fi
}

# The tree the zip is made of, exactly as the install rules lay it out.
run_logged "$stage/install.log" cmake --install "$build" --prefix "$stage/unsigned" ||
    die "installing the build into $stage failed (see above)"
cp -R "$stage/unsigned" "$stage/zip"
sign "$stage/unsigned/quillmark_snaptel.exe" "$stage/zip/quillmark_snaptel.exe"
sign "$build/packaging/wait_for_service_end.exe" "$stage/wait_for_service_end.exe"

# The MSI from the signed executables, with the version of the build's own package.
msi_version=$(msiinfo export "$build/packaging/$name.msi" Property | tr -d '\r' |
    awk -F'\t' '$1 == "ProductVersion" { print $2 }')
run_logged "$stage/build-msi.log" bash packaging/build-msi.sh "$stage/zip/quillmark_snaptel.exe" \
    "$stage/wait_for_service_end.exe" "$msi_version" "$stage/unsigned.msi" ||
    die "building the MSI from the signed executables failed (see above)"
sign "$stage/unsigned.msi" "$stage/$name.msi"

# CPack packs the signed tree instead of installing the build's files itself.
run_logged "$stage/cpack.log" cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$stage/cpack" \
    -D CPACK_INSTALL_CMAKE_PROJECTS= -D "CPACK_INSTALLED_DIRECTORIES=$stage/zip;." ||
    die "cpack did not make $name.zip (see above)"
[ -f "$stage/cpack/$name.zip" ] || die "cpack did not make $name.zip"

# What ships, as an administrator unpacks it: a file changed after its signing, or
# packed from somewhere else, is caught here.
(cd "$stage/check" && cmake -E tar xf "$stage/cpack/$name.zip") ||
    die "cannot unpack $name.zip"
verify "$stage/check/$name/quillmark_snaptel.exe" "quillmark_snaptel.exe in $name.zip"
run_logged "$stage/msiextract.log" msiextract -C "$stage/check/msi" "$stage/$name.msi" ||
    die "cannot unpack $name.msi"
msi_exe=$(find "$stage/check/msi" -type f -name quillmark_snaptel.exe)
[ "$(grep -c . <<<"$msi_exe")" -eq 1 ] || die "$name.msi does not hold one quillmark_snaptel.exe"
verify "$msi_exe" "quillmark_snaptel.exe in $name.msi"
msiinfo extract "$stage/$name.msi" Binary.WaitForServiceEnd >"$stage/check/wait_for_service_end.exe" ||
    die "$name.msi holds no wait_for_service_end.exe"
verify "$stage/check/wait_for_service_end.exe" "wait_for_service_end.exe in $name.msi"
verify "$stage/$name.msi" "$name.msi"

if ! cp "$stage/cpack/$name.zip" "$stage/$name.msi" "$packages/"; then
    rm -f "$packages/$name.zip" "$packages/$name.msi"
    die "cannot copy the packages into $packages"
fi
echo "Signed by $signer${timestamp:+, timestamped by $QUILLMARK_SIGN_TIMESTAMP_URL}"
list_packages
