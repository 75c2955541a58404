// What the log keeps: a console command's lines after the running service's, the run
// before's lines under the kept name at a start and past the bound, and never through
// anything planted at that name.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "logging/diagnostic_log.h"
#include "service/entry_point.h"
#include "settings/log_settings.h"
#include "support/sim_test.h"

namespace {

using test::lines;
using test::operator+;

const std::wstring kept_file = L"C:\\logs\\service.1.log";
const std::wstring victim = L"C:\\Windows\\System32\\config\\victim.dat";

class console_beside_service : public test::sim_test,
                               public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(console_beside_service, adds_its_lines_after_the_services_and_keeps_nothing_aside) {
    use_log_level(0);
    machine().write_file(log_file, "previous run\n");
    logging::file_log service;
    service.set_up({log_file, 0, 0}, logging::log_start::held);
    service.begin_new_log();
    service.write_entry<logging::severity::debug>(L"ServiceMain", L"enter");

    std::wstring program = L"quillmark_snaptel.exe";
    std::wstring word = GetParam();
    wchar_t* argv[] = {program.data(), word.data(), nullptr};
    wmain(2, argv);
    service.write_entry<logging::severity::debug>(L"ServiceWorkerThread", L"enter");

    const auto entries = log_entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[0], ":<D>:  ServiceMain enter");
    EXPECT_EQ(entries[1], ":<D>:  wmain enter");
    EXPECT_EQ(entries[entries.size() - 2], ":<D>:  wmain exit");
    EXPECT_EQ(entries.back(), ":<D>:  ServiceWorkerThread enter");
    EXPECT_EQ(machine().file_content(kept_file), "previous run\n");
}

INSTANTIATE_TEST_SUITE_P(commands, console_beside_service,
                         ::testing::Values(L"install", L"uninstall", L"--help"));

enum class trigger { start, bound };

struct keep_case {
    const char* name;
    trigger when;
    // Put at the kept name before the log begins anew; none: an older log.
    std::function<void(sim::machine&)> plant;
    std::string refusal;
};

class keeping : public test::sim_test, public ::testing::WithParamInterface<keep_case> {};

TEST_P(keeping, keeps_the_lines_before_under_the_kept_name_or_refuses_what_was_planted) {
    const keep_case& c = GetParam();
    use_log_level(0, L"MaxLogSizeMB=1\r\n");
    machine().write_file(victim, "precious\n");
    machine().write_file(kept_file, "older run\n");
    const std::string big(1024 * 1024, 'x');
    lines before;
    if (c.when == trigger::start) {
        machine().write_file(log_file, "previous run\n");
        before = {"previous run"};
    }
    if (c.plant) c.plant(machine());
    auto& log = logging::current_log();
    log.set_up(logging::log_start::held);
    logging::log_debug(L"wmain", L"enter");
    log.begin_service_log();
    if (c.when == trigger::bound) {
        logging::log_debug(L"t", big);
        before = {":<D>:  wmain enter", ":<D>:  t " + big};
    }
    logging::log_debug(L"t", L"after");

    const std::string refusal =
        "file_log Unable to keep the log as " + test::narrow(kept_file) + ": " + c.refusal;
    if (c.refusal.empty()) {
        std::string kept;
        for (const auto& line : before)
            kept += (line[0] == ':' ? test::start_time : "") + line + "\n";
        EXPECT_EQ(machine().file_content(kept_file), kept);
        const lines begun =
            c.when == trigger::start
                ? lines{":<D>:  wmain enter"}
                : lines{
                      ":<I>:  file_log The log passed MaxLogSizeMB 1; the lines before are in "
                      "C:\\logs\\service.1.log"};
        EXPECT_EQ(log_entries(), begun + lines(1, ":<D>:  t after"));
        EXPECT_TRUE(event_entries().empty());
    } else {
        const lines start{":<D>:  wmain enter"};
        const lines expected = (c.when == trigger::start ? before + start : before) +
                               lines{":<ERROR>:  " + refusal, ":<D>:  t after"};
        EXPECT_EQ(log_entries(), expected);
        EXPECT_EQ(event_entries(), lines{"1 " + refusal});
    }
    EXPECT_EQ(machine().file_content(victim), "precious\n");
}

INSTANTIATE_TEST_SUITE_P(
    cases, keeping,
    ::testing::Values(keep_case{"at_a_start", trigger::start, {}, ""},
                      keep_case{"past_the_bound", trigger::bound, {}, ""},
                      keep_case{"at_a_start_refusing_a_link", trigger::start,
                                [](sim::machine& m) { m.create_file_link(kept_file, victim); },
                                "it is a link"},
                      keep_case{"past_the_bound_refusing_a_link", trigger::bound,
                                [](sim::machine& m) { m.create_file_link(kept_file, victim); },
                                "it is a link"},
                      keep_case{"at_a_start_refusing_a_second_name", trigger::start,
                                [](sim::machine& m) { m.set_link_count(kept_file, 2); },
                                "it is one of 2 names of a file"},
                      keep_case{"past_the_bound_refusing_a_second_name", trigger::bound,
                                [](sim::machine& m) { m.set_link_count(kept_file, 2); },
                                "it is one of 2 names of a file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(keeping, a_link_planted_at_the_kept_name_stays_a_link_to_what_it_led_to) {
    use_log_level(0);
    machine().write_file(victim, "precious\n");
    machine().write_file(log_file, "previous run\n");
    machine().create_file_link(kept_file, victim);
    logging::current_log().set_up(logging::log_start::held);
    logging::current_log().begin_service_log();
    EXPECT_EQ(machine().file_content(kept_file), "precious\n");
}

struct bound_case {
    const wchar_t* text;  // none: no key
    std::uint32_t megabytes;
    bool refused = false;
};

class max_log_size : public test::sim_test, public ::testing::WithParamInterface<bound_case> {};

TEST_P(max_log_size, is_a_whole_number_of_megabytes_or_the_default_with_an_error_line) {
    const bound_case& c = GetParam();
    use_log_level(3, c.text != nullptr ? L"MaxLogSizeMB=" + std::wstring(c.text) + L"\r\n" : L"");
    EXPECT_EQ(settings::read_max_log_size().megabytes, c.megabytes);
    logging::get_logger();
    const lines refusal{":<ERROR>:  get_logger MaxLogSizeMB \"" +
                        (c.text != nullptr ? test::narrow(c.text) : "") +
                        "\" is not a whole number of megabytes; 50 is used."};
    EXPECT_EQ(log_entries(), c.refused ? refusal : lines{});
}

INSTANTIATE_TEST_SUITE_P(
    values, max_log_size,
    ::testing::Values(bound_case{nullptr, 50}, bound_case{L"0", 0}, bound_case{L"+2", 2},
                      bound_case{L"007", 7}, bound_case{L"4294967295", 4294967295u},
                      bound_case{L"4294967296", 50, true}, bound_case{L"abc", 50, true},
                      bound_case{L"-1", 50, true}, bound_case{L"1.5", 50, true}));

TEST(kept_log_name, puts_1_before_the_extension_of_the_last_name_only) {
    EXPECT_EQ(logging::kept_log_name(L"C:\\logs\\quillmark_snaptel.log"),
              L"C:\\logs\\quillmark_snaptel.1.log");
    EXPECT_EQ(logging::kept_log_name(L"C:\\logs.d\\service"), L"C:\\logs.d\\service.1");
    EXPECT_EQ(logging::kept_log_name(L"C:/logs.d/x.y.txt"), L"C:/logs.d/x.y.1.txt");
}

}  // namespace
