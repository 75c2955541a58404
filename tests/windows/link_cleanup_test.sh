#!/bin/bash
# Checks that the clean-up deletes nothing outside the agent's temporary directory when a
# link is planted in it, or when the directory itself is a link. Wine cannot create
# Windows links, but it shows a Unix symbolic link to a directory inside the prefix as a
# directory reparse point, so the links are made here, from the Unix side. The clean-up
# itself runs in the PlantedLink cases of windows_tests, which check the service's log;
# this script checks the files the links point to.
#
# usage: link_cleanup_test.sh <path of windows_tests.exe>
set -u

if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 <path of windows_tests.exe>" >&2
    exit 2
fi
tests_exe=$1
. "$(dirname -- "$0")/wine-checks.sh"
temp=$drive_c/ProgramData/Quillmark/Snap/temp
outside=$drive_c/quillmark-link-target

# rm does not follow links: this removes the links themselves, never what they point to.
restore() {
    rm -rf "$temp" "$outside"
    mkdir -p "$temp"
    finish_run
}
trap restore EXIT

# Every path under the outside directory with a checksum of each file's content.
snapshot() {
    (cd "$outside" && find . -print0 | sort -z | while IFS= read -r -d '' path; do
        if [ -f "$path" ]; then
            printf '%s %s\n' "$path" "$(sha256sum <"$path" | cut -d' ' -f1)"
        else
            printf '%s\n' "$path"
        fi
    done)
}

# Runs the PlantedLink case named $1 ("inside" or "temp"), whose test name is $2, and
# compares the outside directory before and after.
run_case() {
    local name=$1 test_name=$2
    local before after failures_before=$failures
    before=$(snapshot)
    QM_PLANTED_LINK=$name run_wine --as windows_tests 120 "$tests_exe" --gtest_filter='PlantedLink.*'
    after=$(snapshot)

    if [ "$cmd_rc" -ne 0 ] && [ "$cmd_rc" -ne 124 ]; then
        fail "windows_tests exited with $cmd_rc"
    fi
    if ! grep -qF "[       OK ] PlantedLink.$test_name" "$scratch/out"; then
        fail "PlantedLink.$test_name did not run and pass"
    fi
    if [ "$before" != "$after" ]; then
        fail "the directory the link points to changed"
        diff <(printf '%s\n' "$before") <(printf '%s\n' "$after") | sed 's/^/    /'
    fi
    [ "$failures" -ne "$failures_before" ] && show_output
}

echo "Case inside: a link in the temporary directory to a directory outside it"
rm -rf "$temp" "$outside"
mkdir -p "$temp/sub" "$outside/keep/inner"
echo "agent state" >"$temp/note.txt"
echo "agent state" >"$temp/sub/deep.txt"
echo "must stay" >"$outside/keep/important.txt"
echo "must stay" >"$outside/keep/inner/also.txt"
mkdir -p "$outside/empty"
echo "must stay" >"$outside/file.txt"
ln -s "$outside/keep" "$temp/planted"
ln -s "$outside/file.txt" "$temp/file-link"
ln -s "$outside/empty" "$temp/empty-link"
run_case inside LinkInsideTheTempDirectoryIsNotWalkedInto
if [ ! -f "$outside/keep/important.txt" ] || [ ! -f "$outside/file.txt" ] ||
    [ ! -d "$outside/empty" ]; then
    fail "what a link points to was deleted"
fi

echo "Case names: entries the plain path form cannot reach, and a branch deeper than 260 characters"
rm -rf "$temp" "$outside"
mkdir -p "$temp" "$outside"
for name in nul con.txt trail. "blank " plain.txt; do
    echo "agent state" >"$temp/$name"
done
deep=$temp
for level in 1 2 3 4 5 6; do
    deep=$deep/level-$level-of-a-branch-that-goes-deeper-than-the-path-limit
done
mkdir -p "$deep"
echo "agent state" >"$deep/bottom.txt"
echo "agent state" >"$deep/nul"
run_case names NamesThePlainPathFormCannotReachAreDeleted
if [ -n "$(find "$temp" -mindepth 1 -print -quit)" ]; then
    fail "the temporary directory was not emptied:"
    find "$temp" -mindepth 1 | sed 's/^/    /'
fi

echo "Case temp: the temporary directory is itself a link to a directory elsewhere"
rm -rf "$temp" "$outside"
mkdir -p "$outside/elsewhere/inner" "$(dirname -- "$temp")"
echo "must stay" >"$outside/elsewhere/top.txt"
echo "must stay" >"$outside/elsewhere/inner/kept.txt"
ln -s "$outside/elsewhere" "$temp"
run_case temp TempDirectoryThatIsALinkIsLeftAlone
if [ ! -f "$outside/elsewhere/inner/kept.txt" ] || [ ! -f "$outside/elsewhere/top.txt" ]; then
    fail "files under $outside/elsewhere were deleted"
fi

completed=1
