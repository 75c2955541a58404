// Installed programs and process creation with CreateProcessW's rules for finding the
// program in a command line.
#include <cwctype>

#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr platform::error_code error_bad_exe_format = 193;

bool has_extension(const std::wstring& path) {
    return last_component(clean_path(path)).find(L'.') != std::wstring::npos;
}

// The names CreateProcessW tries for the program, in order. A quoted first token is the
// only one. Otherwise each run of text up to a blank is tried in turn, so for
// C:\Program Files\x.exe the system tries C:\Program.exe first. ".exe" is added to a
// name without an extension.
std::vector<std::wstring> program_candidates(const std::wstring& line) {
    std::vector<std::wstring> names;
    std::size_t start = line.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return names;
    if (line[start] == L'"') {
        const std::size_t close = line.find(L'"', start + 1);
        names.push_back(line.substr(
            start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1));
    } else {
        for (std::size_t at = start;;) {
            const std::size_t blank = line.find_first_of(L" \t", at);
            names.push_back(
                line.substr(start, blank == std::wstring::npos ? blank : blank - start));
            if (blank == std::wstring::npos) break;
            at = blank + 1;
        }
    }
    for (auto& name : names) {
        if (!has_extension(name)) name += L".exe";
    }
    return names;
}

}  // namespace

std::wstring device_path(const std::wstring& spelled) {
    if (spelled.size() < 2 || spelled[1] != L':') return spelled;
    const auto drive = static_cast<int>(std::towupper(static_cast<wint_t>(spelled[0])) - L'C');
    return L"\\Device\\HarddiskVolume" + std::to_wstring(drive + 1) + spelled.substr(2);
}

std::shared_ptr<process_record> machine::impl::launch_program(const std::wstring& key) {
    const program& behaviour = processes.programs.at(key);
    auto process = processes.add(device_path(fs.files.at(key).spelled), behaviour.options);
    for (const auto& started : behaviour.starts) {
        const location at = fs.locate(fs.absolute(started), true);
        if (processes.programs.count(at.key) != 0 && fs.files.count(at.key) != 0) {
            launch_program(at.key);
        }
    }
    return process;
}

void machine::install_program(const std::wstring& path, program behaviour) {
    create_file(path);
    std::lock_guard guard(impl_->lock);
    impl_->processes.programs[impl_->fs.locate(impl_->fs.absolute(path), true).key] =
        std::move(behaviour);
}

std::vector<launch> machine::launches() const {
    std::lock_guard guard(impl_->lock);
    return impl_->processes.launches;
}

std::vector<std::uint32_t> machine::running(const std::wstring& image_path) const {
    std::lock_guard guard(impl_->lock);
    std::vector<std::uint32_t> ids;
    for (const auto& process : impl_->processes.listed) {
        if (!process->ended && process->image_path == image_path) ids.push_back(process->id);
    }
    return ids;
}

}  // namespace sim

namespace platform {

bool create_process(wchar_t* command_line, bool inherit_handles, std::uint32_t creation_flags,
                    const startup_info& startup, process_information& created) {
    auto& m = sim::machine::instance().internals();
    std::lock_guard guard(m.lock);
    const std::wstring line = command_line != nullptr ? command_line : L"";
    if (auto error = m.enter(sim::operation::create_process, line)) {
        return sim::failure(false, *error);
    }
    if (command_line == nullptr) return sim::failure(false, error_invalid_parameter);

    std::optional<std::wstring> program_key;
    for (const auto& name : sim::program_candidates(line)) {
        const sim::location at = m.fs.locate(m.fs.absolute(name), true);
        const auto* found = m.fs.entry(at.key);
        if (found != nullptr && found->kind == sim::entry_kind::file) {
            program_key = at.key;
            break;
        }
    }
    if (!program_key) return sim::failure(false, error_file_not_found);
    if (m.processes.programs.count(*program_key) == 0) {
        return sim::failure(false, sim::error_bad_exe_format);
    }

    const auto process = m.launch_program(*program_key);
    m.processes.launches.push_back({process->id, line, inherit_handles, creation_flags,
                                    startup.flags, startup.show_window, m.clock.elapsed_ms});
    sim::handle_record process_handle;
    process_handle.kind = sim::handle_kind::process;
    process_handle.process = process;
    process_handle.access = process_all_access;
    sim::handle_record thread_handle;
    thread_handle.kind = sim::handle_kind::primary_thread;
    thread_handle.process = process;
    created.process = m.handles.add(std::move(process_handle));
    created.thread = m.handles.add(std::move(thread_handle));
    created.process_id = process->id;
    created.thread_id = m.scheduler.next_thread_id;
    m.scheduler.next_thread_id += 4;
    return true;
}

}  // namespace platform
