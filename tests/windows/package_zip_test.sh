#!/bin/bash
# Makes the zip with CPack from the build's install rules, into a scratch folder so that
# the build's own package is left alone, and checks its name and that it holds exactly
# what an administrator deploys: a stray test program or a missing settings file would
# otherwise go out unnoticed.
#
# usage: package_zip_test.sh <cpack> <cmake> <build directory> <project version>
set -u

if [ "$#" -ne 4 ] || [ ! -f "$3/CPackConfig.cmake" ]; then
    echo "usage: $0 <cpack> <cmake> <build directory> <project version>" >&2
    exit 2
fi
cpack=$1
cmake=$2
build=$3
version=$4

scratch=$(mktemp -d /tmp/quillmark-package-zip.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT

if ! "$cpack" -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack failed"
    exit 1
fi

folder=quillmark_snaptel-$version-win64
zip=$scratch/$folder.zip
if [ ! -f "$zip" ]; then
    echo "FAIL: no $folder.zip; cpack made:"
    ls "$scratch"
    exit 1
fi

# Folders are listed with a trailing slash, if at all: only the files count.
actual=$(cd "$scratch" && "$cmake" -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' \
    "$folder/README.md" \
    "$folder/quillmark_snaptel.exe" \
    "$folder/quillmark_snaptel.ini" | sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: $folder.zip holds"
    echo "$actual"
    echo "expected"
    echo "$expected"
    exit 1
fi
echo "$folder.zip holds the executable, the sample settings and the README"
