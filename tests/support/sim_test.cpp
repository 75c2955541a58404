#include "support/sim_test.h"

#include "logging/diagnostic_log.h"

namespace test {

void sim_test::SetUp() {
    machine().reset();
    new_process_log();
    machine().set_module_path(L"C:\\svc\\bin\\quillmark_snaptel.exe");
    machine().create_directory(L"C:\\logs");
}

void sim_test::TearDown() {
    for (const auto& thread : machine().unfinished_threads()) {
        ADD_FAILURE() << "a simulated thread has not ended: " << thread;
    }
    log_.reset();
}

void sim_test::new_process_log() {
    log_.reset();
    log_.emplace();
}

void sim_test::use_settings(const std::wstring& text) {
    machine().set_settings_file(settings_path, text);
}

void sim_test::use_log_level(int level, const std::wstring& more_settings) {
    use_settings(L"[SERVICE]\r\nLogLevel=" + std::to_wstring(level) + L"\r\nLogFile=" + log_file +
                 L"\r\n" + more_settings);
}

std::string sim_test::log_bytes() const {
    return sim::machine::instance().file_content(log_file).value_or("");
}

std::vector<std::string> sim_test::log_lines() const {
    std::vector<std::string> lines;
    std::string line;
    for (const char byte : log_bytes()) {
        if (byte == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(byte);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> sim_test::log_entries() const {
    std::vector<std::string> entries;
    for (const auto& line : log_lines()) {
        const auto end_of_time = line.find(']');
        entries.push_back(end_of_time == std::string::npos ? line : line.substr(end_of_time + 1));
    }
    return entries;
}

std::vector<std::string> sim_test::event_entries() const {
    std::vector<std::string> entries;
    for (const auto& event : sim::machine::instance().events()) {
        // Every event is an error event of the service's own source.
        EXPECT_EQ(event.source, L"quillmark_snaptel");
        EXPECT_EQ(event.type, platform::eventlog_error_type);
        entries.push_back(std::to_string(event.id) + " " + narrow(event.text));
    }
    return entries;
}

std::string narrow(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    }
    return bytes;
}

lines operator+(lines first, const lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::vector<std::string> lines_starting(const std::vector<std::string>& lines,
                                        const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line);
        }
    }
    return found;
}

}  // namespace test
