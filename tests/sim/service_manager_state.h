// The Service Control Manager's services and this process's dispatcher
// (service_manager.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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

    std::uint64_t start_limit_ms = default_service_limit_ms;
    std::uint64_t control_limit_ms = default_service_limit_ms;
    std::optional<std::uint32_t> start_result;
    // The scheduled event that ends the process when the start limit passes; dropped at
    // the first report.
    std::optional<std::multimap<std::uint64_t, std::function<void()>>::iterator> start_deadline;
    bool process_ended = false;
    // Delivered and refused controls; a delivered one has no result until its handler
    // returns.
    struct sent_control {
        std::uint64_t sent_ms = 0;
        // The control limit runs from here.
        std::uint64_t delivered_ms = 0;
        std::uint32_t control = 0;
        std::optional<std::uint32_t> result;
    };
    std::vector<sent_control> sent;
};

struct service_manager_state {
    // By lower-case name.
    std::map<std::wstring, service_entry> services;
    dispatcher_state dispatcher;

    void clear() { *this = {}; }
};

}  // namespace sim
