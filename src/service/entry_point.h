// The process entry: the command word chooses the operation (service_registration.h,
// service_lifecycle.h).
#pragma once

// Logs its start, runs the operation its first argument names (install, uninstall, or
// the service for anything else), logs its end. The exit code is that of install or
// uninstall (0 only when the service was registered or removed, else the Windows error
// code of the failure), 0 after a run as the service, and 1 when the log cannot be opened.
extern "C" int wmain(int argc, wchar_t* argv[]);
