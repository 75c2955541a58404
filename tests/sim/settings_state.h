// What the executable learns about itself: where it runs from (module_path.cpp) and its
// settings files (settings.cpp, which hands their texts to profile_reader.cpp).
#pragma once

#include <map>
#include <string>

namespace sim {

struct settings_state {
    std::wstring module_path = L"C:\\Program Files\\Quillmark\\quillmark_snaptel.exe";
    // Decoded texts by path, compared as the file tree compares paths.
    std::map<std::wstring, std::wstring> files;
    int reads = 0;

    void clear() { *this = {}; }
};

}  // namespace sim
