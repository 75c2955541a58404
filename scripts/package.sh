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
# missing with apt-get first. When one package cannot be made the other is still made,
# and the script ends with exit code 1.
#
# QM_BUILD_DIR names another build directory for the preset (default build/windows).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${QM_BUILD_DIR:-$repo/build/windows}
packages=$repo/build/packages

scripts/install-dependencies.sh

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
version=${version:-1.0.0}
name=quillmark_snaptel-$version-win64
mkdir -p "$packages"
rm -f "$packages/$name.zip" "$packages/$name.msi"
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

echo "Packages in $packages:"
for file in "$name.zip" "$name.msi"; do
    if [ -f "$packages/$file" ]; then
        (cd "$packages" && sha256sum "$file") | sed 's/^/  /'
    fi
done
exit "$status"
