// One line of the installation check's report: what was found, how it is judged, and for
// a problem what to do.
#pragma once

#include <string>
#include <vector>

#include "platform/errors.h"

namespace service::check {

enum class mark { ok, warning, problem };

struct check_line {
    mark judged = mark::ok;
    // The family of checks it belongs to: settings, files, registration, state, temp.
    std::wstring family;
    std::wstring text;
    bool operator==(const check_line&) const = default;
};

using report = std::vector<check_line>;

// The line as the report prints it: the mark padded to one width, so that the families
// line up and `findstr /b problem` or `grep ^problem` picks the problems out.
// "problem  settings: ConfigFile is not set. Set [AGENT] ConfigFile to ..."
std::wstring printed(const check_line& line);

// Whether a file-system or registry error says that what was looked for is not there.
bool is_missing(platform::error_code error);

// The system's text for `error`, or "error <code>" when the platform has none, ending as a
// sentence does.
std::wstring error_text(platform::error_code error);

}  // namespace service::check
