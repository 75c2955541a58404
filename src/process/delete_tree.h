#pragma once

#include <cstdint>
#include <string>

namespace process {

// Deletes everything under the directory `path`, depth first, stopping at the first
// failure. `level` is the depth below the first call (0 there); the directory at level 0
// is removed too only when `delete_root` is set, deeper ones always once emptied.
// Links (reparse points) inside are removed as links and never walked into, and a
// directory that is itself a link is left untouched: the service runs as LocalSystem,
// and a planted link must not make it delete anything outside `path`.
// True when everything that was to go has gone.
bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root);

}  // namespace process
