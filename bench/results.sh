#!/usr/bin/env bash
# Turns the "name=value" lines of a run of bench/measure.sh into the Markdown of
# bench/results.md. The script runs it at its end; the page can be written again from the
# values a run kept, without measuring again:
#
#   bench/results.sh build/bench-windows/figures.txt >bench/results.md
#
# Given the values of "bench/measure.sh cleanup" (build/bench-windows/cleanup-figures.txt),
# it writes the page of that one figure.
#
# The explanation under a figure whose goal was missed says what the run showed; it is
# written only when that goal was missed.
set -euo pipefail

# The value of "name=value" in the figures file.
figure() {
    sed -n "s/^$1=//p" "$figures_file" | tail -n 1
}

# Evaluates an arithmetic expression with awk, printed with the given format.
calc() {
    awk "BEGIN { printf \"$1\", $2 }"
}

holds() {
    awk "BEGIN { exit !($1) }"
}

met() {
    if holds "$1"; then echo yes; else echo '**no**'; fi
}

median_of() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The values the page was written from, folded away at its end.
run_values() {
    cat <<EOF

<details><summary>The run's values</summary>

\`\`\`
$(cat "$figures_file")
\`\`\`
</details>
EOF
}

# The title, the run's date, machine and Wine, and the head of the table: $1 is the page's
# title, $2 the command that measured it.
page_head() {
    cat <<EOF
# $1

Measured by \`$2\` on $measured_on, on the Windows build (mingw-w64, Release)
under Wine. Each figure is set against its floor, measured in the same run.

- Machine: $machine_cpu, $machine_cores cores; $machine_kernel
- Wine: $wine_version
- Load average when the run began: $load_before

| # | Figure | Measured | Floor (same run) | Against the floor | Goal | Met |
|---|---|---|---|---|---|---|
EOF
}

# The clean-up's values, set for the row and the paragraph below.
read_cleanup_figures() {
    walk_files=$(figure cleanup_files)
    walk_directories=$(figure cleanup_directories)
    walk_rounds=$(figure cleanup_rounds)
    walk_level=$(figure cleanup_log_level)
    service_walk=$(figure service_walk_median_ms)
    service_walk_longest=$(figure service_walk_longest_ms)
    bare_walk=$(figure bare_walk_median_ms)
    service_entry=$(figure service_walk_per_entry_us)
    bare_entry=$(figure bare_walk_per_entry_us)
    walk_entries=$((walk_files + walk_directories))
    walk_ratio=$(calc '%.2f' "$service_entry / $bare_entry")
}

cleanup_row() {
    echo "| 6 | Emptying the temporary directory of $walk_files files in $walk_directories subdirectories, per entry | $(calc '%.0f' "$service_entry") µs ($(calc '%.0f' "$service_walk") ms in all) | a bare DeleteFileW walk over the same tree: $(calc '%.0f' "$bare_entry") µs ($(calc '%.0f' "$bare_walk") ms) | $walk_ratio × | ≤ 2 × | $(met "$walk_ratio <= 2") |"
}

cleanup_section() {
    cat <<EOF
**6. Clean-up.** \`service_costs.exe cleanup\` fills the service's temporary directory
(\`C:\\ProgramData\\Quillmark\\Snap\\temp\`) with $walk_files files of a few bytes, spread over
$walk_directories subdirectories, and empties it $walk_rounds times each way, one way after the other: with the
service's own walk, \`process::delete_tree(process::temp_directory, 0, false)\`, at the
service's default LogLevel ($walk_level: its debug lines suppressed), and, over the same tree built
again, with a bare walk through the platform layer that lists each directory
(FindFirstFileW, FindNextFileW), deletes each file with DeleteFileW and removes each
emptied subdirectory with RemoveDirectoryW, and opens, asks and checks nothing. Both
give the entries' names in the same \`\\\\?\\\` form and keep the directory itself; after each
walk the program checks that the directory is there and empty. Building the tree is not
timed. Medians; an entry is a file or a subdirectory, $walk_entries in all. The service
empties this directory at every start, before its first status report, which Wine
waits 10 s for, and after the clean-up's searches and its 1000 ms wait: its walk over
$walk_files files took $(calc '%.2f' "$service_walk / 1000") s at the median and $(calc '%.2f' "$service_walk_longest / 1000") s at the longest; with the 1000 ms wait
before it, the longest comes to $(calc '%.0f' "($service_walk_longest + 1000) / 100") % of those 10 s.
EOF
    if ! holds "$walk_ratio <= 2"; then
        cat <<EOF

*Missed.* The service's walk spent $(calc '%.0f' "$service_entry - $bare_entry") µs more on each entry than the bare walk. For each
file the bare walk makes one DeleteFileW, which Wine turns into two requests to its
server: the opening, with deletion on close, and the closing, at which the server
unlinks the file. The service's walk makes five: the opening without following links,
FileBasicInfo (the server hands over the file's Unix descriptor, for an fstat),
FileNameInfo (the server gives the file's Unix path, turned back into a Windows one), the
deletion through the handle and the closing. The unlink at the last closing is the same
in both walks and, where the disk is slow to unlink, most of what either costs; where
it is quick the three further requests weigh more. They are the checks that keep the
service, which runs as LocalSystem, from deleting anything outside the directory through
a name someone else placed there.
EOF
    fi
}

write_results() {
    figures_file=$1
    local measured_on machine_cpu machine_cores machine_kernel wine_version load_before
    measured_on=$(figure measured_on)
    machine_cpu=$(figure machine_cpu)
    machine_cores=$(figure machine_cores)
    machine_kernel=$(figure machine_kernel)
    wine_version=$(figure wine_version)
    load_before=$(figure load_before)

    # 6. Clean-up: the service's walk against a bare walk over the same tree. A run of
    # "bench/measure.sh cleanup" holds only these values, and makes a page of its own.
    local walk_files walk_directories walk_rounds walk_level service_walk service_walk_longest
    local bare_walk service_entry bare_entry walk_entries walk_ratio
    read_cleanup_figures
    if [ -z "$(figure window_ms)" ]; then
        page_head "What the service's clean-up costs" "bench/measure.sh cleanup"
        cleanup_row
        printf '\n## How the figure was taken\n\n'
        cleanup_section
        run_values
        return
    fi

    # 1. CPU while watching, against an idle process and against the poll alone.
    local window service_ms service_ns idle_ms idle_ns poll_ms poll_ns server_ms cycles
    window=$(figure window_ms)
    service_ms=$(figure service_cpu_ms)
    service_ns=$(figure service_threads_ns)
    idle_ms=$(figure idle_cpu_ms)
    idle_ns=$(figure idle_threads_ns)
    poll_ms=$(figure poll_cpu_ms)
    poll_ns=$(figure poll_threads_ns)
    server_ms=$(figure wineserver_cpu_ms)
    cycles=$(figure health_cycles_in_window)
    # Milliseconds of the threads' exact run time; utime + stime only counts 10 ms ticks.
    local service_run idle_run poll_run
    service_run=$(calc '%.1f' "$service_ns / 1e6")
    idle_run=$(calc '%.1f' "$idle_ns / 1e6")
    poll_run=$(calc '%.1f' "$poll_ns / 1e6")
    local share_of='* 100 / '"$window"
    local cpu_goal="($service_run - $poll_run) $share_of <= 0.05"
    local polls wakeup_us lines_in_window
    polls=$(calc '%.0f' "$window / 60")
    wakeup_us=$(calc '%.0f' "$poll_ns / 1000 / $polls")
    lines_in_window=$(figure log_lines_in_window)

    # 2. Stops: each against the waits of its own run.
    local run stops_table='' above_list='' total_list='' pauses_list=''
    local total control pauses floor above
    for run in $(sed -n 's/^stop_\([0-9]*\)_ms=.*/\1/p' "$figures_file"); do
        total=$(figure "stop_${run}_ms")
        control=$(figure "stop_${run}_control_returned_ms")
        pauses=$(figure "stop_${run}_pauses")
        floor=$((2000 + 100 * pauses))
        above=$(calc '%.1f' "$total - $floor")
        stops_table+="| $run | $(calc '%.1f' "$total") | $pauses | $floor | $above | $(calc '%.1f' "$control - $floor") | $(calc '%.1f' "$total - $control") |"$'\n'
        above_list+="$above"$'\n'
        total_list+="$total"$'\n'
        pauses_list+="$pauses"$'\n'
    done
    local stop_median stop_above stop_above_max stop_floor
    stop_median=$(printf '%s' "$total_list" | median_of)
    stop_above=$(printf '%s' "$above_list" | median_of)
    stop_above_max=$(printf '%s' "$above_list" | sort -g | tail -n 1)
    stop_floor=$(printf '%s' "$pauses_list" | sort -u |
        awk '{ printf "%s%d", (NR > 1 ? " or " : ""), 2000 + 100 * $1 }')

    # 3. Health cycle, against the bare search: a cycle prescribes three.
    local enumeration bare_search search cycle processes ratio per_process above_bare
    enumeration=$(figure enumeration_median_us)
    bare_search=$(figure bare_search_median_us)
    search=$(figure one_search_median_us)
    cycle=$(figure health_cycle_median_us)
    processes=$(figure processes_enumerated)
    ratio=$(calc '%.2f' "$cycle / $bare_search")
    per_process=$(calc '%.0f' "($bare_search - $enumeration) / $processes")
    above_bare=$(calc '%.1f' "($search - $bare_search) / $processes")

    # 4. Restarts.
    local restarts handles_1 handles_n private_1 private_n heap_1 heap_n
    restarts=$(sed -n 's/^handles_after_\([0-9]*\)=.*/\1/p' "$figures_file" | sort -n | tail -n 1)
    handles_1=$(figure handles_after_1)
    handles_n=$(figure "handles_after_$restarts")
    private_1=$(figure private_bytes_after_1)
    private_n=$(figure "private_bytes_after_$restarts")
    heap_1=$(figure heap_bytes_after_1)
    heap_n=$(figure "heap_bytes_after_$restarts")
    local trend='' point
    for point in $(sed -n 's/^handles_after_\([0-9]*\)=.*/\1/p' "$figures_file" | sort -n); do
        trend+="| $point | $(figure "handles_after_$point") | $(calc '%.0f' "$(figure "private_bytes_after_$point") / 1024") | $(figure "heap_bytes_after_$point") |"$'\n'
    done

    # 5. Log lines.
    local suppressed empty written bare
    suppressed=$(figure suppressed_ns)
    empty=$(figure empty_loop_ns)
    written=$(figure written_ns)
    bare=$(figure bare_write_ns)

    page_head "What the service costs" "bench/measure.sh"
    cat <<EOF
| 1 | CPU of the service process while it watches, over $(calc '%.1f' "$window / 1000") s | $(calc '%.3f' "$service_run $share_of") % of one core ($service_run ms) | an idle Wine process: $(calc '%.3f' "$idle_run $share_of") % ($idle_run ms); the worker's 60 ms poll alone: $(calc '%.3f' "$poll_run $share_of") % ($poll_run ms) | +$(calc '%.3f' "($service_run - $idle_run) $share_of") % over idle; $(calc '%+.3f' "($service_run - $poll_run) $share_of") % over the poll alone | ≤ 0.05 % above the poll alone | $(met "$cpu_goal") |
| 2 | Stop control to the stopped state (median of the runs) | $(calc '%.1f' "$stop_median") ms | the prescribed waits: $stop_floor ms | +$stop_above ms (largest +$stop_above_max ms) | ≤ 100 ms above | $(met "$stop_above <= 100") |
| 3 | One health cycle, $processes processes running | $(calc '%.1f' "$cycle / 1000") ms | one bare search: $(calc '%.1f' "$bare_search / 1000") ms (its enumeration alone: $(calc '%.2f' "$enumeration / 1000") ms) | $ratio bare searches | ≤ 3.3 bare searches (a cycle prescribes three) | $(met "$ratio <= 3.3") |
| 4a | Open handles after $restarts restarts of the agent group | $handles_n | after 1: $handles_1 | $((handles_n - handles_1)) | equal | $(met "$handles_n == $handles_1") |
| 4b | Private memory after $restarts restarts of the agent group | $(calc '%.0f' "$private_n / 1024") KiB | after 1: $(calc '%.0f' "$private_1 / 1024") KiB | $(calc '%+.0f' "($private_n - $private_1) / 1024") KiB | equal | $(met "$private_n == $private_1") |
| 4c | Bytes in use on the heaps after $restarts restarts (explains 4b) | $heap_n | after 1: $heap_1 | $((heap_n - heap_1)) | equal | $(met "$heap_n == $heap_1") |
| 5a | A suppressed debug line (LogLevel 3) | $(calc '%.1f' "$suppressed") ns | the empty loop: $(calc '%.1f' "$empty") ns | +$(calc '%.1f' "$suppressed - $empty") ns | ≤ 100 ns | $(met "$suppressed <= 100") |
| 5b | A written debug line (LogLevel 0) | $(calc '%.2f' "$written / 1000") µs | its bytes written alone: $(calc '%.2f' "$bare / 1000") µs | +$(calc '%.2f' "($written - $bare) / 1000") µs | ≤ 1.5 µs above | $(met "$written - $bare <= 1500") |
$(cleanup_row)

## How each figure was taken, and why a goal was missed

**1. CPU while watching.** The service is installed in \`C:\\Program Files\\Quillmark Bench\`
beside the stand-ins of the agent and its plugins, started with \`sc start\`, and left to
watch them. Under Wine it is a Linux process: the figure is the run time of its threads
(\`/proc/<pid>/task/*/schedstat\`, in nanoseconds) over a window that opens 5 s after the
start, so that the first health cycle falls inside it ($cycles health cycle(s) in the
window, by the service's log at LogLevel 0). The change of utime + stime in
\`/proc/<pid>/stat\`, which counts 10 ms ticks, agrees: $service_ms ms for the service,
$poll_ms ms for the poll alone, $idle_ms ms for the idle process. The two floors ran beside the service in the same window:
\`service_costs.exe idle\` waits for ever, \`service_costs.exe poll\` makes the worker
thread's calls between health cycles and nothing else (a look at the stop event, a 60 ms
sleep, a read of the monotonic clock). The poll the service prescribes is the floor it
cannot go below: about $wakeup_us µs of CPU for each of its $polls wakeups here, as each one is a
round trip to the Wine server for the look at the event (signals masked and unmasked, a
write and a read on its socket) and, for the sleep, yields and a timed select. The Wine
server did $server_ms ms of work in the window for all of the prefix's processes together
(the stand-ins included); that is not counted above.
EOF
    if ! holds "$cpu_goal"; then
        local beyond lines_ms
        beyond=$(calc '%.1f' "$service_run - $poll_run")
        lines_ms=$(calc '%.1f' "$lines_in_window * $written / 1e6")
        cat <<EOF

*Missed.* Above the poll alone the service's threads ran $beyond ms in the window. Between
health cycles the worker thread makes the poll's calls and no others, so the rest is what
the service did besides: the $cycles health cycle(s) in the window, whose three searches each open
every process of the prefix and read its path (see 3), and the $lines_in_window lines it wrote to its
log meanwhile, at the LogLevel 0 this figure is taken at so that the log shows the cycle.
At the $(calc '%.2f' "$written / 1000") µs a written line takes in 5b the lines account for about $lines_ms ms, which
leaves $(calc '%.1f' "$beyond - $lines_ms") ms for the rest. The health cycle is prescribed, once a minute; at the
service's default LogLevel its lines would be suppressed. Anything beyond a cycle and its
lines is to be found.
EOF
    fi
    cat <<EOF

**2. Stops.** \`service_costs.exe stop\` calls ControlService(STOP) and then
QueryServiceStatus every millisecond until the service reports STOPPED. The control
handler runs the whole stop sequence before ControlService returns: the started agents
are terminated, 1000 ms wait, the clean-up ends the agents and plugins by name (100 ms
pause after each search that found some), 1000 ms wait, the temporary directory is
emptied; then the worker thread sees the stop event at its next poll (every 60 ms) and
ServiceMain reports STOPPED. The pauses are counted from the service's log of each run.
The floor leaves out the worker's poll: the last column holds it (0 to 60 ms, prescribed)
together with ServiceMain's report of the stopped state.

| Run | Stop (ms) | 100 ms pauses | Floor (ms) | Above the floor (ms) | of which in the control handler (ms) | of which from ControlService's return to STOPPED (ms) |
|---|---|---|---|---|---|---|
$stops_table
**3. Health cycle.** \`service_costs.exe health\` starts 500 idle copies of itself
($(figure idle_processes_started) started, in $(calc '%.1f' "$(figure idle_processes_start_s)") s) and the agent group, then times, $(figure rounds) times each and
interleaved, one K32EnumProcesses with a 2,048-entry buffer (the service's first), one
bare search, one search by name (\`find_processes\`) and one health cycle
(is_host_agent_running and are_system_plugins_running: three searches), with the
service's default LogLevel; medians. The bare search is what one search must do at
least: the enumeration into that buffer, which holds every process here, then for each
process OpenProcess, K32GetProcessImageFileNameW into a 260-character buffer and
CloseHandle; nothing matched, logged or kept. Under Wine each of these calls is a round
trip to the Wine server, and the path's device form (\`\\Device\\HarddiskVolume1\\...\`)
takes a further lookup of the drive's device name. The bare search took $(calc '%.1f' "$bare_search / 1000") ms: the
enumeration and about $per_process µs for each process. One search of the service's took
$(calc '%.1f' "$search / 1000") ms, about $above_bare µs more for each process.
EOF
    if ! holds "$ratio <= 3.3"; then
        cat <<EOF

*Missed.* The cycle took $ratio bare searches; the three searches it prescribes come to three at
the least. Each of the service's searches came to $(calc '%.2f' "$search / $bare_search") bare searches: beyond the bare work it enumerates
into a buffer it grows until the list does not fill it (the first, of 2,048 entries,
held the $processes here), copies each image path, matches the name at every position of
it with CompareStringOrdinal, without regard to case, and keeps the handle of each process
found in a list; its debug lines are suppressed at the default LogLevel. That came to
about $above_bare µs for each process. The rest of the cycle came to $(calc '%.0f' "$cycle - 3 * $search") µs: besides its three
searches it asks the exit code of the agent and of each plugin found, and closes the
handles of what the searches found.
EOF
    fi
    cat <<EOF

**4. Restarts.** \`service_costs.exe restarts\` launches the agent group with
start_agent, then restarts it $restarts times as the worker thread does after a failed
health cycle (stop_agent, start_agent), waiting each time until the health checks see the
agent and both plugins, and reads its own handle count, private memory and the bytes in
use on its heaps through the platform layer after restarts 1, 10, 20, ... Under Wine 8
GetProcessHandleCount answers 0 and PrivateUsage is left 0; the platform functions then
count the handle values GetHandleInformation accepts, and read PagefileUsage, which Wine
fills with the process's resident anonymous memory (Windows gives both fields the same
value).

| Restarts | Handles | Private memory (KiB) | Bytes in use on the heaps |
|---|---|---|---|
$trend
EOF
    if ! holds "$private_n == $private_1"; then
        if holds "$heap_n == $heap_1 && $handles_n == $handles_1"; then
            cat <<EOF
*Missed.* The private memory rose by $(calc '%.0f' "($private_n - $private_1) / 1024") KiB, while the handles and the bytes in use on the
heaps are the same after 1 and after $restarts restarts: nothing a restart allocates is
kept. What Wine reports is resident memory, pages touched at least once, and a page
stays resident after what was on it is freed: a path that runs only now and then touches
a few more pages the first time it runs (a search that cannot read a process's path
writes an error line with the system's text, for one; Wine keeps memory of its own
outside the heaps, for another), and the table shows the figure level afterwards.
Nothing to fix in the service; in other runs both readings were equal.

EOF
        elif holds "$(figure handles_after_10) == $handles_n && $(figure heap_bytes_after_10) == $heap_n && $(figure private_bytes_after_10) == $private_n"; then
            cat <<EOF
*Missed* by one step before the tenth restart: from restart 10 to $restarts the handles, the
private memory and the bytes in use on the heaps stay exactly as they are, so no restart
keeps anything. What grew once was taken the first time something ran that does not run
at every restart: a buffer or list of the process reaching its largest size, or Wine
setting something up for a call it had not been asked before. (The measuring program
writes the system's text of an error to the debugger channel once before its first
reading: under Wine the first such call opens two handles that stay open for good, and
any restart's error line could otherwise be the first.)

EOF
        else
            cat <<EOF
*Missed,* and the bytes in use on the heaps or the handles differ too, and go on growing
after the tenth restart: something a restart allocates is kept. To be found.

EOF
        fi
    fi
    cat <<EOF
**5. Log lines.** \`service_costs.exe log\` writes \`logging::log_debug(L"find_processes",
L"adding process", <image path>)\` in 15 batches (1,000,000 lines a batch when suppressed,
20,000 when written), each followed by a batch of its floor, and gives the medians per
line. The floor of the written line is the
same bytes handed to platform::write_file on a file opened as the log is: like each line
of the log, they are written at the end of the file as it is at that moment, because
another start of the executable may have emptied the file meanwhile, and Wine makes that
write an fstat, a pwrite and an lseek, each a system call.
EOF
    if ! holds "$written - $bare <= 1500"; then
        cat <<EOF

*Missed.* Writing the line's bytes alone costs $(calc '%.2f' "$bare / 1000") µs here, and the logger adds
$(calc '%.2f' "($written - $bare) / 1000") µs above it: its own work on each line, under its lock. It formats the pieces
through a wide string stream, reads the wall clock and turns it into local calendar time
for the time stamp, writes the stamp digit by digit and narrows the line to bytes; the
write itself is the floor's.
EOF
    fi
    echo
    cleanup_section
    run_values
}

if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 <figures file of a run>" >&2
    exit 2
fi
write_results "$1"
