// A test on a fresh simulated machine and a fresh process log: the executable at
// C:\svc\bin\quillmark_snaptel.exe, its log file C:\logs\service.log. A test fails
// when it leaves a simulated thread that has not ended.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "logging/diagnostic_log.h"
#include "sim/machine.h"

namespace test {

// The timestamp of every line written before the virtual clock moves.
inline const std::string start_time = "[2026-01-02 03:04:05]";

class sim_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    sim::machine& machine() { return sim::machine::instance(); }

    // The log of a new process, as the service's next start would make it: the settings
    // are read again when it opens its file.
    void new_process_log();

    // Writes the settings file beside the executable. With `log_level`, the SERVICE
    // section holds LogLevel and LogFile=C:\logs\service.log.
    void use_settings(const std::wstring& text);
    void use_log_level(int level, const std::wstring& more_settings = L"");

    // The log file's lines without their line feeds; the file's whole bytes.
    std::vector<std::string> log_lines() const;
    std::string log_bytes() const;
    // The log's lines without their timestamps, from the severity tag on: the virtual
    // clock moves with every pause, so tests about what is logged leave the time out.
    std::vector<std::string> log_entries() const;
    // The events reported to the event log, each as "<ID> <text>", in order.
    std::vector<std::string> event_entries() const;

    static constexpr const wchar_t* log_file = L"C:\\logs\\service.log";

  private:
    std::optional<logging::diagnostic_log> log_;
    static constexpr const wchar_t* settings_path = L"C:\\svc\\bin\\quillmark_snaptel.ini";
};

// Device-form image paths of the executables the service looks after.
inline const std::wstring agent_image = L"\\Device\\HarddiskVolume1\\svc\\bin\\snapteld.exe";
inline const std::wstring collector_image =
    L"\\Device\\HarddiskVolume1\\svc\\bin\\snap-plugin-collector-qmsystem.exe";
inline const std::wstring publisher_image =
    L"\\Device\\HarddiskVolume1\\svc\\bin\\snap-plugin-publisher-quillmark.exe";

// The narrow form of a wide text made of characters up to U+00FF, as the log writes it.
std::string narrow(const std::wstring& text);

// Log lines or entries, in order, and two such lists one after the other.
using lines = std::vector<std::string>;
lines operator+(lines first, const lines& second);

// Lines that begin with `prefix`, in order.
std::vector<std::string> lines_starting(const std::vector<std::string>& lines,
                                        const std::string& prefix);

}  // namespace test
