// Whether an opened log file is the log's own: a link or a second name planted at the
// log's name would otherwise make the service, which runs as the local system account,
// empty a file it was never meant to touch.
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/handles.h"

namespace logging {

// Empty when `file`, opened by `name` without following a link, is an ordinary file with
// that one name, lying where `name` says; otherwise why it is not ("it is a link", ...).
std::wstring why_not_own_file(platform::handle file, const std::wstring& name);

// Empty when `name` may be the log's; otherwise why not ("it is the settings file", ...):
// the service's own files and the host agent's, which emptying and writing lines into
// would ruin. Compared by where they lie, however `name` spells it (other case, "/", a
// relative or short form, ".."), before anything is opened.
std::wstring why_not_log_name(const std::wstring& name);

// The system's text for `code` (system_text), or "error <code>" when it has none.
std::wstring reason_text(platform::error_code code);

}  // namespace logging
