// The walk that empties a directory anyone may write into, as the local system account.
#pragma once

#include <cstdint>
#include <string>

#include "cleanup/pace.h"

namespace cleanup {

// Deletes everything under the directory `path`, depth first; an entry that cannot be
// deleted is left with its error lines, and the walk goes on with the others. `level` is the depth
// below the first call (0 there); the directory at level 0 is removed too only when `delete_root`
// is set, deeper ones always once emptied. The service runs as LocalSystem and anyone may create
// entries under `path`, so nothing outside it is ever deleted or changed: the directory must really
// be where `path` says (no link above it), every entry is reached without following links and
// checked to be where its name says before it is deleted through the same handle, links inside are
// removed as links, and an entry that leads elsewhere is left with an error line.
// True when everything that was to go has gone; a directory that kept an entry stays.
// `pacing` is told of the walk's progress between entries, and ends it when it says so.
bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root, pace& pacing);
bool delete_tree(const std::wstring& path, std::int32_t level, bool delete_root);

}  // namespace cleanup
