// What the service knows of the host agent it keeps running, and the keys of its settings
// file: named once here, so that the launch, the health checks, the termination, the
// clean-up and the log's refusals all mean the same files and processes.
#pragma once

#include <array>
#include <cstdint>

namespace settings {

// The host agent's executable, beside the service's own; also the part of an image path
// that marks a running host agent.
inline constexpr const wchar_t* agent_file_name = L"snapteld.exe";

// The system plugins the host agent starts, in the order the health check looks for them.
inline constexpr std::array<const wchar_t*, 2> system_plugin_names{
    L"snap-plugin-collector-qmsystem.exe", L"snap-plugin-publisher-quillmark.exe"};

// The part of an image path that marks any plugin of the host agent, system or not.
inline constexpr const wchar_t* plugin_marker = L"snap-plugin";

// The host agent's temporary directory; emptied at each start, never removed. Written as
// the agent writes it, forward slashes and all.
inline constexpr const wchar_t* agent_temp_directory = L"C:/ProgramData/Quillmark/Snap/temp";

// A key of the settings file and what applies when the file, its section or the key is
// missing.
template <typename Value>
struct setting_key {
    const wchar_t* section;
    const wchar_t* key;
    Value default_value;
};

inline constexpr setting_key<std::int32_t> log_level_key{L"SERVICE", L"LogLevel", 3};
inline constexpr setting_key<const wchar_t*> log_file_key{L"SERVICE", L"LogFile",
                                                          L"quillmark_snaptel.log"};
// 0: no bound.
inline constexpr setting_key<std::uint32_t> max_log_size_key{L"SERVICE", L"MaxLogSizeMB", 50};
inline constexpr setting_key<const wchar_t*> config_file_key{L"AGENT", L"ConfigFile", L""};

}  // namespace settings
