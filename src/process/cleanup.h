#pragma once

namespace process {

// The host agent's temporary directory; emptied at each start, never removed.
inline constexpr const wchar_t* temp_directory = L"C:/ProgramData/Quillmark/Snap/temp";

// Leaves the machine ready for a fresh host agent: ends every host agent and plugin
// process, waits, and empties the temporary directory. Never throws; what failed is
// only logged.
void cleanup();

// The step of cleanup that empties the temporary directory.
void cleanup_temp_directory();

}  // namespace process
