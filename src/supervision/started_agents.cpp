#include "supervision/started_agents.h"

#include "platform/unique_handle.h"

namespace supervision {

platform::srw_lock agent_lock;
process::process_list started_agents;
std::atomic<bool> stop_requested{false};

void request_stop() {
    stop_requested = true;
}

bool is_stop_requested() {
    return stop_requested;
}

void forget_started_agents() {
    const platform::exclusive_lock held(agent_lock);
    started_agents.clear();
    stop_requested = false;
}

}  // namespace supervision
