// Launching the host agent and stopping it together with everything it started.
#pragma once

#include "cleanup/pace.h"
#include "supervision/agent_group.h"

namespace supervision {

// Launches the host agent from `command_line` (a writable, terminated buffer that process
// creation may change) hidden, with the service's inheritable handles, environment and
// current directory, and records it in the group's started agents. False when the process
// could not be created, when the service is stopping (nothing is launched then) or when an
// exception was caught. Worker thread only.
bool start_agent(agent_group& group, wchar_t* command_line);

// Terminates the host agents launched, waits a second, ends every host agent and plugin
// process by name and empties the agent's temporary directory. True when the sequence
// ran to its end, which does not mean the agent has stopped. Called by the worker thread
// for a restart and by the control handler for a stop; the two are serialised. `pacing`
// hears of each step, and ends the deletion early when it says so.
bool stop_agent(agent_group& group, cleanup::pace& pacing);
// The same, unhurried: it runs to its end and reports nothing.
bool stop_agent(agent_group& group);

}  // namespace supervision
