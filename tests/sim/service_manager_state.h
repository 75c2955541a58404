// The Service Control Manager's services and this process's dispatcher
// (service_manager.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/machine.h"

namespace sim {

// The process's side of the Service Control Manager: the service it was started as and
// what the dispatcher has to deliver.
struct dispatcher_state {
    std::wstring service_name;
    platform::service_main_function main = nullptr;
    // Kept by the service; nullptr until it registers its handler.
    const platform::service_control_target* handler = nullptr;
    std::multimap<std::uint64_t, std::uint32_t> controls;
    std::vector<status_report> reports;
    bool stopped_reported = false;
    wchar_t* arguments[2] = {nullptr, nullptr};
};

struct service_manager_state {
    // By lower-case name.
    std::map<std::wstring, service_entry> services;
    dispatcher_state dispatcher;

    void clear() { *this = {}; }
};

}  // namespace sim
