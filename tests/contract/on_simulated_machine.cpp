// The contract on the simulated machine: a new machine for each test, whose test thread
// is the simulated one; a test fails when it leaves a simulated thread running.
#include "contract/contract_test.h"
#include "platform/files.h"
#include "sim/machine.h"

namespace contract {

// The test program is played by a process of the service's executable, where the
// module path points.
void contract_test::SetUp() {
    auto& machine = sim::machine::instance();
    machine.reset();
    machine.set_current_process(machine.start_process(
        L"\\Device\\HarddiskVolume1\\Program Files\\Quillmark\\quillmark_snaptel.exe"));
}

void contract_test::TearDown() {
    for (const auto& thread : sim::machine::instance().unfinished_threads()) {
        ADD_FAILURE() << "a simulated thread has not ended: " << thread;
    }
}

scratch::scratch() : path_(L"C:\\scratch") {
    sim::machine::instance().create_directory(path_);
}

// The machine is new for the next test.
scratch::~scratch() = default;

void scratch::make_directory(const std::wstring& name) const {
    sim::machine::instance().create_directory(*this / name);
}

void scratch::write(const std::wstring& name, const std::string& bytes) const {
    sim::machine::instance().write_file(*this / name, bytes);
}

// The machine makes the file afresh with the attribute; the contract reads no bytes of a
// read-only file.
void scratch::make_read_only(const std::wstring& name) const {
    sim::machine::instance().create_file(*this / name, platform::file_attribute_readonly);
}

bool scratch::exists(const std::wstring& name) const {
    return sim::machine::instance().exists(*this / name);
}

std::optional<std::string> scratch::content(const std::wstring& name) const {
    return sim::machine::instance().file_content(*this / name);
}

std::wstring program_path(const std::wstring& name) {
    const std::wstring path = L"C:\\programs\\" + name;
    sim::machine::instance().install_program(path);
    return path;
}

void await_holding(std::uint32_t id, const std::wstring& path) {
    sim::machine::instance().write_file(path, "");
    sim::machine::instance().hold_file(id, path);
}

}  // namespace contract
