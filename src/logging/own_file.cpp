#include "logging/own_file.h"

#include <utility>

#include "logging/system_text.h"
#include "platform/final_path.h"
#include "platform/text.h"
#include "settings/settings_file.h"

namespace logging {
namespace {

bool has(std::uint32_t attributes, std::uint32_t bit) {
    return (attributes & bit) != 0;
}

// Where `name` says the file lies, in the form a final path takes without its prefix. Short
// (8.3) components are written long, as the final path writes them.
std::wstring named_path(const std::wstring& name) {
    std::wstring full;
    if (!platform::get_full_path_name(name.c_str(), full)) {
        return {};
    }
    std::wstring long_form;
    return platform::plain_path(platform::get_long_path_name(full.c_str(), long_form) ? long_form
                                                                                      : full);
}

// Compared as the file system compares names.
bool same_path(const std::wstring& one, const std::wstring& other) {
    return platform::compare_string_ordinal(one.c_str(), static_cast<int>(one.size()),
                                            other.c_str(), static_cast<int>(other.size()),
                                            true) == platform::cstr_equal;
}

}  // namespace

std::wstring why_not_log_name(const std::wstring& name) {
    const std::wstring module = settings::get_module_path();
    const std::wstring named = named_path(name);
    if (module.empty() || named.empty()) {
        return {};
    }
    const std::pair<std::wstring, const wchar_t*> refused[] = {
        {settings::settings_file_path(), L"it is the settings file"},
        {module, L"it is the service's executable"},
        {settings::agent_file_path(), L"it is the host agent's file"},
    };
    for (const auto& [path, reason] : refused) {
        if (same_path(named, named_path(path))) {
            return reason;
        }
    }
    return {};
}

std::wstring reason_text(platform::error_code code) {
    const std::wstring text = system_text(code);
    return text.empty() ? L"error " + std::to_wstring(code) : text;
}

std::wstring why_not_own_file(platform::handle file, const std::wstring& name) {
    std::uint32_t attributes = 0;
    if (!platform::get_file_attributes_by_handle(file, attributes)) {
        return reason_text(platform::get_last_error());
    }
    if (has(attributes, platform::file_attribute_reparse_point)) {
        return L"it is a link";
    }
    if (has(attributes, platform::file_attribute_directory)) {
        return L"it is a directory";
    }
    std::uint32_t links = 0;
    if (!platform::get_file_link_count(file, links)) {
        return reason_text(platform::get_last_error());
    }
    if (links != 1) {
        return L"it is one of " + std::to_wstring(links) + L" names of a file";
    }
    // A link above the file, or one the platform shows as an ordinary file (a Unix link
    // under Wine), leads elsewhere: only where the handle really is tells.
    const std::wstring final = platform::final_path(file);
    if (final.empty()) {
        return reason_text(platform::get_last_error());
    }
    const std::wstring found = platform::plain_path(final);
    const std::wstring named = named_path(name);
    if (!same_path(found, named)) {
        return L"it leads to " + found;
    }
    return {};
}

}  // namespace logging
