// A test of the host agent's supervision on the simulated machine: the service at
// C:\svc\bin, the host agent and both system plugins installed beside it (the agent
// starts the plugins when it is launched), and a worker thread run as the service runs
// it, with the stop event and the stop sequence of the service.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "supervision/agent_group.h"
#include "support/sim_test.h"

namespace test {

inline const std::wstring agent_path = L"C:\\svc\\bin\\snapteld.exe";
inline const std::wstring collector_path = L"C:\\svc\\bin\\snap-plugin-collector-qmsystem.exe";
inline const std::wstring publisher_path = L"C:\\svc\\bin\\snap-plugin-publisher-quillmark.exe";
inline const std::wstring config_path = L"C:\\svc\\snap\\config.yaml";

class supervision_test : public sim_test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Settings with LogLevel and ConfigFile (none when empty).
    void use_configuration(int log_level, const std::wstring& config_file = config_path);

    // What the service does before the worker runs: the first log line (which makes the
    // log and the settings) and the stop event; then the worker thread starts.
    void start_worker();
    // Waits for the worker thread to end and gives its exit code.
    std::uint32_t worker_exit_code();
    // The service's stop sequence (the control handler's): the stop is marked, the agent
    // group stopped, the stop event set; then the worker is waited for.
    std::uint32_t stop_service();

    // The processes now running the agent's and the plugins' images.
    std::vector<std::uint32_t> agents() const;
    std::vector<std::uint32_t> plugins() const;

    // The log entries written under `tag`, in order.
    std::vector<std::string> entries_of(const std::string& tag) const;

    // What the worker shares with the thread that stops the service, as the service holds
    // it: made afresh by SetUp.
    std::unique_ptr<supervision::agent_group> group;
    platform::unique_handle worker;
};

}  // namespace test
