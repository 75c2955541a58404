// Where the service finds its settings: the settings file beside the executable, and
// the log threshold read from it once per process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace logging {

// The settings file of this process. Created once, never changed.
class service_configuration {
  public:
    explicit service_configuration(std::wstring settings_file_path)
        : settings_file(std::move(settings_file_path)) {}

    const std::wstring settings_file;
};

// The running executable's full path, however long; empty when it cannot be obtained.
std::wstring get_module_path();

// The running executable's directory, without a trailing separator.
std::wstring get_module_directory();

// The process's settings, created at the first call. The first call must finish before a
// second thread calls; the entry point's first log line makes it on the main thread.
std::shared_ptr<service_configuration> get_service_configuration();

// The whole text of `key` in `section` of the process's settings file, or
// `default_value`, however long: never cut to a buffer's size.
std::wstring get_setting_text(const wchar_t* section, const wchar_t* key,
                              const wchar_t* default_value);

// The LogLevel setting, read at the first call and cached for the life of the process.
// Callers hold the logger's line lock, which is what serialises the cache.
std::int32_t get_log_level(const std::wstring& settings_file);

// Forgets the settings objects and the cached level, as a new process starts without
// them. Only tests call it: the service reads its settings once per process.
void forget_service_configuration();

}  // namespace logging
