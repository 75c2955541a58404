// The contract on Windows (under Wine): the real calls need no set-up, and the scratch
// directory lies in the real temporary directory.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <thread>

#include "contract/contract_test.h"
#include "windows/standin_process.h"

namespace contract {
namespace {

namespace fs = std::filesystem;

// In the \\?\ form, which reaches paths beyond the path limit.
fs::path at(const scratch& directory, const std::wstring& name) {
    return fs::path(L"\\\\?\\" + (directory / name));
}

}  // namespace

void contract_test::SetUp() {}

void contract_test::TearDown() {}

scratch::scratch() {
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path made =
        fs::temp_directory_path() /
        ("quillmark-contract-" + std::to_string(random()) + "-" + std::to_string(now));
    fs::create_directories(made);
    path_ = made.wstring();
}

scratch::~scratch() {
    std::error_code ignored;
    for (const auto& name : read_only_) {
        fs::permissions(at(*this, name), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(fs::path(path_), ignored);
}

// Its parent must exist.
void scratch::make_directory(const std::wstring& name) const {
    fs::create_directory(at(*this, name));
}

void scratch::write(const std::wstring& name, const std::string& bytes) const {
    std::ofstream(at(*this, name), std::ios::binary) << bytes;
}

void scratch::make_read_only(const std::wstring& name) const {
    fs::permissions(at(*this, name), fs::perms::owner_write, fs::perm_options::remove);
    read_only_.push_back(name);
}

bool scratch::exists(const std::wstring& name) const {
    return fs::exists(at(*this, name));
}

std::optional<std::string> scratch::content(const std::wstring& name) const {
    std::ifstream in(at(*this, name), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::wstring program_path(const std::wstring& name) {
    return (standin::standin_directory() / name).wstring();
}

// The stand-in creates the file when it opens it.
void await_holding(std::uint32_t /*id*/, const std::wstring& path) {
    const fs::path held(L"\\\\?\\" + path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ample_ms);
    while (!fs::exists(held) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace contract
