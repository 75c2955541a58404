// The service's life under the Service Control Manager: the service main function the
// dispatcher runs on a thread of its own, and the control handler it calls on the
// thread that connected to it (the main thread, inside run_service).
#pragma once

#include <cstdint>

namespace service {

// Registers the control handler, reports the service starting and then running, runs
// the supervision on a worker thread until it ends, and reports the service stopped.
void ServiceMain(std::uint32_t argument_count, wchar_t** arguments);

// Stop and shutdown while running: stops the host agent group, reports the stop pending
// and signals the worker to end. Pause and continue are only logged; other codes ignored.
void ServiceCtrlHandler(std::uint32_t control);

}  // namespace service
