// What the host agent leaves behind, cleared away before it starts again.
#pragma once

#include "cleanup/pace.h"
#include "settings/agent_facts.h"

namespace cleanup {

// The host agent's temporary directory; emptied at each start, never removed.
inline constexpr const wchar_t* temp_directory = settings::agent_temp_directory;

// Leaves the machine ready for a fresh host agent: ends every host agent and plugin
// process, waits, and empties the temporary directory. Never throws; what failed is
// only logged, and its events are bounded (logging::event_bound). `pacing` hears of each step and
// of the deletion's progress, and may end the deletion early: one line then says that the rest is
// left.
void clean_up(pace& pacing);
void clean_up();

// The step of clean_up that empties the temporary directory.
void cleanup_temp_directory(pace& pacing);

}  // namespace cleanup
