#pragma once

#include "platform/unique_handle.h"

namespace supervision {

// The manual-reset event that asks the worker thread to end. The service creates it
// before it starts the worker, signals it on a stop or shutdown request once the agent
// has been stopped, and closes it after the worker has ended; the worker only polls it.
extern platform::unique_handle stop_event;

}  // namespace supervision
