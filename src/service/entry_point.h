// The process entry: the command word chooses the operation (service_registration.h,
// service_lifecycle.h).
#pragma once

// Logs its start, runs the operation its first argument names (install, uninstall, or
// the service for anything else), logs its end. The exit code is 0, and 1 only when the
// log cannot be opened.
extern "C" int wmain(int argc, wchar_t* argv[]);
