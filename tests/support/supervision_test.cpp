#include "support/supervision_test.h"

#include "logging/diagnostic_log.h"
#include "supervision/agent_launch.h"
#include "supervision/worker_thread.h"

namespace test {

void supervision_test::SetUp() {
    sim_test::SetUp();
    group = std::make_unique<supervision::agent_group>();
    machine().install_program(collector_path);
    machine().install_program(publisher_path);
    machine().install_program(agent_path, {{}, {collector_path, publisher_path}});
}

void supervision_test::TearDown() {
    worker.reset();
    group.reset();
    sim_test::TearDown();
}

void supervision_test::use_configuration(int log_level, const std::wstring& config_file) {
    use_log_level(log_level,
                  config_file.empty() ? L"" : L"[AGENT]\r\nConfigFile=" + config_file + L"\r\n");
}

void supervision_test::start_worker() {
    logging::get_logger();
    group->stop_event.reset(platform::create_event(true, false));
    worker.reset(platform::create_thread(supervision::ServiceWorkerThread, group.get()));
    ASSERT_TRUE(worker);
    machine().name_thread(worker.get(), "worker");
}

std::uint32_t supervision_test::worker_exit_code() {
    EXPECT_EQ(platform::wait_for_single_object(worker.get(), platform::infinite),
              platform::wait_object_0);
    std::uint32_t code = platform::still_active;
    EXPECT_TRUE(platform::get_exit_code_thread(worker.get(), &code));
    return code;
}

std::uint32_t supervision_test::stop_service() {
    group->request_stop();
    supervision::stop_agent(*group);
    platform::set_event(group->stop_event.get());
    return worker_exit_code();
}

std::vector<std::uint32_t> supervision_test::agents() const {
    return sim::machine::instance().running(agent_image);
}

std::vector<std::uint32_t> supervision_test::plugins() const {
    auto found = sim::machine::instance().running(collector_image);
    const auto publishers = sim::machine::instance().running(publisher_image);
    found.insert(found.end(), publishers.begin(), publishers.end());
    return found;
}

std::vector<std::string> supervision_test::entries_of(const std::string& tag) const {
    std::vector<std::string> found;
    for (const auto& entry : log_entries()) {
        const auto tag_at = entry.find(":  ");
        if (tag_at != std::string::npos &&
            entry.compare(tag_at + 3, tag.size() + 1, tag + " ") == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

}  // namespace test
