// The process table, the programs installed and the processes created from them
// (processes.cpp, process_creation.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// The access rights of a process handle that the process calls check, as Windows does.
inline constexpr std::uint32_t process_terminate = 0x1;
inline constexpr std::uint32_t process_query_information = 0x400;
inline constexpr std::uint32_t process_query_limited_information = 0x1000;
inline constexpr std::uint32_t synchronize = 0x100000;

inline constexpr std::uint32_t first_process_id = 100;
inline constexpr std::uint32_t unused_process_id = 8;

struct process_record {
    std::uint32_t id = 0;
    std::wstring image_path;
    process_options options;
    bool ended = false;
    std::uint32_t exit_code = 0;
    int terminations = 0;
    // A termination whose effect is still to come (exit_delay_ms).
    std::optional<std::uint64_t> ends_at_ms;
    std::uint32_t pending_exit_code = 0;
    // The files it keeps open, by key (see file_tree_key), and what it shares of each.
    struct held_file {
        std::wstring key;
        std::uint32_t share_mode = 0;
    };
    std::vector<held_file> held_files;
};

struct processes_state {
    // The processes K32EnumProcesses lists, in start order: those running and those
    // ended but still listed. Every process ever started stays findable by identifier.
    std::vector<std::shared_ptr<process_record>> listed;
    std::map<std::uint32_t, std::shared_ptr<process_record>> every_process;
    std::uint32_t next_id = first_process_id;
    std::uint32_t current_id = unused_process_id;
    std::map<std::wstring, program> programs;
    std::vector<launch> launches;

    void clear() { *this = {}; }
    process_record* find(std::uint32_t id);
    std::shared_ptr<process_record> add(std::wstring image_path, process_options options);
    void end(process_record& process, std::uint32_t exit_code);
};

}  // namespace sim
