// The simulated machine must behave as Windows does wherever the service can tell the
// difference, or tests on it prove nothing about the real service.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace {

using sim::machine;
using sim::operation;

std::wstring read(const std::wstring& text, const wchar_t* section, const wchar_t* key,
                  const wchar_t* fallback = L"none", std::uint32_t size = 260) {
    std::vector<wchar_t> buffer(size + 1, L'#');
    const auto stored = sim::profile_string(text, section, key, fallback, buffer.data(), size);
    return size == 0 ? std::wstring(buffer.data(), 1) : std::wstring(buffer.data(), stored);
}

std::uint32_t read_int(const std::wstring& value, std::int32_t fallback = -7) {
    return sim::profile_int(L"[s]\nk=" + value + L"\n", L"s", L"k", fallback);
}

std::vector<std::wstring> list(const std::wstring& pattern,
                               std::vector<std::uint32_t>* attributes = nullptr) {
    std::vector<std::wstring> names;
    platform::find_data data;
    platform::handle listing = platform::find_first_file(pattern.c_str(), data);
    if (listing == platform::invalid_handle_value()) return names;
    do {
        names.push_back(data.name);
        if (attributes != nullptr) attributes->push_back(data.attributes);
    } while (platform::find_next_file(listing, data));
    EXPECT_EQ(platform::get_last_error(), platform::error_no_more_files);
    platform::find_close(listing);
    return names;
}

// --- Settings ------------------------------------------------------------------

TEST(SimSettings, SectionsAndKeysFollowTheWindowsReader) {
    machine::instance().reset();
    const std::wstring text =
        L"stray=before\r\n[ Main ] trailing\r\n  Path = C:\\x  \r\n;Commented=yes\n#hash=1\n"
        L"path=second\nnote=a ; kept\nbare\n[main]\nlate=1\n[Other]\nkey=o";
    EXPECT_EQ(read(text, L"main", L"PATH"), L"C:\\x");
    EXPECT_EQ(read(text, L"  MAIN ", L" path "), L"C:\\x");
    EXPECT_EQ(read(text, L"main", L";Commented"), L"yes");
    EXPECT_EQ(read(text, L"main", L"Commented"), L"none");
    EXPECT_EQ(read(text, L"main", L"#hash"), L"1");
    EXPECT_EQ(read(text, L"main", L"note"), L"a ; kept");
    EXPECT_EQ(read(text, L"main", L"bare"), L"none");
    EXPECT_EQ(read(text, L"main", L"late"), L"none");  // a repeated section is never read
    EXPECT_EQ(read(text, L"main", L"stray"), L"none");
    EXPECT_EQ(read(text, L"other", L"key"), L"o");
    EXPECT_EQ(read(text, L"missing", L"key"), L"none");
}

TEST(SimSettings, QuotesAndTruncation) {
    machine::instance().reset();
    const std::wstring text =
        L"[s]\na=\" abc \"\nb=\"abc\nc='x'\nd=\"x'\ne=" + std::wstring(263, L'v') + L"\nf=\"\"\n";
    EXPECT_EQ(read(text, L"s", L"a"), L" abc ");
    EXPECT_EQ(read(text, L"s", L"b"), L"\"abc");
    EXPECT_EQ(read(text, L"s", L"c"), L"x");
    EXPECT_EQ(read(text, L"s", L"d"), L"\"x'");
    EXPECT_EQ(read(text, L"s", L"e").size(), 259u);
    EXPECT_EQ(read(text, L"s", L"f"), L"");
    EXPECT_EQ(read(text, L"s", L"a", L"", 1), L"");
    EXPECT_EQ(read(text, L"s", L"a", L"", 0), L"#");  // nothing written at all
    EXPECT_EQ(read(text, L"s", L"a", L"", 4), L" ab");
    EXPECT_EQ(read(text, L"s", L"zz", L"'dflt'   "), L"dflt");
    EXPECT_EQ(read(text, L"s", L"zz", L"default", 4), L"def");
}

TEST(SimSettings, IntegersParseAsWindowsDoes) {
    machine::instance().reset();
    EXPECT_EQ(read_int(L"abc"), 0u);
    EXPECT_EQ(read_int(L"12abc"), 12u);
    EXPECT_EQ(read_int(L"3.9"), 3u);
    EXPECT_EQ(read_int(L"+5"), 5u);
    EXPECT_EQ(read_int(L"  42  "), 42u);
    EXPECT_EQ(read_int(L"\"42\""), 42u);
    EXPECT_EQ(read_int(L"-1"), 4294967295u);
    EXPECT_EQ(read_int(L"4294967297"), 1u);
    EXPECT_EQ(read_int(L"-2147483649"), 2147483647u);
    EXPECT_EQ(read_int(L"0x10"), 16u);
    EXPECT_EQ(read_int(L"0X10"), 0u);
    EXPECT_EQ(read_int(L"0b101"), 5u);
    EXPECT_EQ(read_int(L""), static_cast<std::uint32_t>(-7));
    EXPECT_EQ(sim::profile_int(L"[s]", L"s", L"k", 9), 9u);
}

TEST(SimSettings, PlatformCallsReadTheRegisteredFile) {
    machine& m = machine::instance();
    m.reset();
    m.set_settings_file(L"C:/Data/Agent.ini", L"[a]\nn=5\ns=text\n");
    wchar_t buffer[16];
    EXPECT_EQ(
        platform::get_private_profile_string(L"a", L"s", L"", buffer, 16, L"c:\\data\\AGENT.INI"),
        4u);
    EXPECT_EQ(std::wstring(buffer), L"text");
    EXPECT_EQ(platform::get_private_profile_int(L"a", L"n", 1, L"C:\\Data\\Agent.ini"), 5u);
    EXPECT_EQ(m.settings_reads(), 2);

    // Windows reports a missing key as a missing file, even when the file is there.
    platform::set_last_error(0);
    EXPECT_EQ(platform::get_private_profile_int(L"a", L"zz", 3, L"C:\\Data\\Agent.ini"), 3u);
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
    platform::set_last_error(0);
    EXPECT_EQ(platform::get_private_profile_int(L"a", L"n", 7, L"C:\\other.ini"), 7u);
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
    EXPECT_EQ(m.settings_reads(), 3);
    EXPECT_EQ(m.calls(operation::get_private_profile_int), 3);
}

// --- Module path and errors ------------------------------------------------------

TEST(SimModule, PathIsCutLikeTheRealCall) {
    machine& m = machine::instance();
    m.reset();
    m.set_module_path(L"C:\\q.exe");  // 8 characters
    wchar_t buffer[9] = {};
    EXPECT_EQ(platform::get_module_file_name(buffer, 9), 8u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\q.exe");

    wchar_t small[8];
    platform::set_last_error(0);
    EXPECT_EQ(platform::get_module_file_name(small, 8), 8u);
    EXPECT_EQ(platform::get_last_error(), platform::error_insufficient_buffer);
    EXPECT_EQ(std::wstring(small, 8), L"C:\\q.exe");  // no room left for a terminator
}

TEST(SimErrors, TextsDebugOutputAndComparison) {
    machine& m = machine::instance();
    m.reset();
    EXPECT_EQ(platform::format_message(5), L"Access is denied.\r\n");
    EXPECT_EQ(platform::format_message(4242), L"");
    m.set_error_text(5, L"");
    EXPECT_EQ(platform::format_message(5), L"");
    platform::output_debug_string(L"one");
    platform::output_debug_string(L"two");
    EXPECT_EQ(m.debug_output(), (std::vector<std::wstring>{L"one", L"two"}));
    EXPECT_EQ(platform::compare_string_ignore_case(L"SnapTel", L"snaptel"), 0);
    EXPECT_NE(platform::compare_string_ignore_case(L"snap", L"snapx"), 0);
}

// --- Processes -------------------------------------------------------------------

TEST(SimProcesses, EnumeratedInStartOrderWhileListed) {
    machine& m = machine::instance();
    m.reset();
    const auto a = m.start_process(L"\\Device\\HarddiskVolume1\\a.exe");
    const auto b =
        m.start_process(L"\\Device\\HarddiskVolume1\\b.exe", {.listed_after_exit = true});
    const auto c = m.start_process(L"\\Device\\HarddiskVolume1\\c.exe");
    EXPECT_EQ(a, 100u);
    EXPECT_EQ(b, 104u);
    m.end_process(a, 1);
    m.end_process(b, 2);
    std::uint32_t ids[8] = {};
    std::uint32_t bytes = 0;
    ASSERT_TRUE(platform::enum_processes(ids, sizeof ids, &bytes));
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(ids[0], b);
    EXPECT_EQ(ids[1], c);
    ASSERT_TRUE(platform::enum_processes(ids, 4, &bytes));  // too small is not an error
    EXPECT_EQ(bytes, 4u);

    EXPECT_EQ(platform::open_process(platform::process_all_access, false, a), nullptr);
    EXPECT_EQ(platform::get_last_error(), platform::error_invalid_parameter);
    platform::handle ended = platform::open_process(platform::process_all_access, false, b);
    ASSERT_NE(ended, nullptr);
    std::uint32_t code = 0;
    EXPECT_TRUE(platform::get_exit_code_process(ended, &code));
    EXPECT_EQ(code, 2u);
    EXPECT_FALSE(platform::terminate_process(ended, 9));
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    EXPECT_TRUE(platform::close_handle(ended));
}

TEST(SimProcesses, OpenAndImageFailures) {
    machine& m = machine::instance();
    m.reset();
    const auto locked = m.start_process(L"\\Device\\x.exe", {.cannot_open = true});
    const auto hidden = m.start_process(L"\\Device\\y.exe", {.image_unreadable = true});
    EXPECT_EQ(platform::open_process(platform::process_all_access, false, locked), nullptr);
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    platform::handle h = platform::open_process(platform::process_all_access, false, hidden);
    wchar_t image[32];
    EXPECT_EQ(platform::get_process_image_file_name(h, image, 32), 0u);
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    platform::close_handle(h);

    const auto plain = m.start_process(L"\\Device\\z.exe");  // 13 characters
    h = platform::open_process(platform::process_all_access, false, plain);
    EXPECT_EQ(platform::get_process_image_file_name(h, image, 13), 0u);
    EXPECT_EQ(platform::get_last_error(), platform::error_insufficient_buffer);
    EXPECT_EQ(platform::get_process_image_file_name(h, image, 14), 13u);
    EXPECT_EQ(std::wstring(image), L"\\Device\\z.exe");
    platform::close_handle(h);
    EXPECT_EQ(platform::get_process_image_file_name(h, image, 14), 0u);
    EXPECT_EQ(platform::get_last_error(), platform::error_invalid_handle);
}

TEST(SimProcesses, DelayedAndRefusedTermination) {
    machine& m = machine::instance();
    m.reset();
    const auto slow = m.start_process(L"\\Device\\s.exe", {.exit_delay_ms = 500});
    const auto stubborn = m.start_process(L"\\Device\\t.exe", {.survives_termination = true});
    platform::handle s = platform::open_process(platform::process_all_access, false, slow);
    platform::handle t = platform::open_process(platform::process_all_access, false, stubborn);
    EXPECT_TRUE(platform::terminate_process(s, 3));
    EXPECT_TRUE(platform::terminate_process(t, 3));
    EXPECT_EQ(platform::wait_for_single_object(s, 100), platform::wait_timeout);
    platform::sleep(399);
    EXPECT_TRUE(m.is_running(slow));
    platform::sleep(1);
    EXPECT_EQ(m.exit_code(slow), 3u);
    EXPECT_EQ(platform::wait_for_single_object(s, 0), platform::wait_object_0);

    // A wait ends as soon as the process does, not when its time-out runs out.
    const auto later = m.start_process(L"\\Device\\u.exe", {.exit_delay_ms = 300});
    platform::handle u = platform::open_process(platform::process_all_access, false, later);
    EXPECT_TRUE(platform::terminate_process(u, 4));
    EXPECT_EQ(platform::wait_for_single_object(u, 10000), platform::wait_object_0);
    EXPECT_EQ(m.elapsed_ms(), 800u);
    platform::close_handle(u);
    EXPECT_EQ(platform::wait_for_single_object(t, 1000), platform::wait_timeout);
    EXPECT_TRUE(m.is_running(stubborn));
    EXPECT_EQ(m.terminations(stubborn), 1);
    platform::close_handle(s);
    platform::close_handle(t);
}

TEST(SimProcesses, HeldFileIsReleasedWhenTheProcessEnds) {
    machine& m = machine::instance();
    m.reset();
    m.create_file(L"C:\\logs\\agent.log");
    const auto id = m.start_process(L"\\Device\\a.exe");
    m.hold_file(id, L"c:/LOGS/agent.log");
    EXPECT_FALSE(platform::delete_file(L"C:\\logs\\agent.log"));
    EXPECT_EQ(platform::get_last_error(), platform::error_sharing_violation);
    platform::handle h = platform::open_process(platform::process_all_access, false, id);
    EXPECT_TRUE(platform::terminate_process(h, 1));
    platform::close_handle(h);
    EXPECT_TRUE(platform::delete_file(L"C:\\logs\\agent.log"));
}

// --- Files -----------------------------------------------------------------------

TEST(SimFiles, ListingIsSortedWithDotsAndLinks) {
    machine& m = machine::instance();
    m.reset();
    m.create_file(L"C:\\t\\b.txt", platform::file_attribute_readonly);
    m.create_directory(L"C:\\t\\Alpha");
    m.create_file(L"C:\\target\\inner.txt");
    m.create_directory_link(L"C:\\t\\link", L"C:\\target");
    std::vector<std::uint32_t> attributes;
    EXPECT_EQ(list(L"C:\\t\\*", &attributes),
              (std::vector<std::wstring>{L".", L"..", L"Alpha", L"b.txt", L"link"}));
    EXPECT_EQ(attributes[2], 0x10u);
    EXPECT_EQ(attributes[3], 0x21u);
    EXPECT_EQ(attributes[4], 0x410u);
    EXPECT_EQ(list(L"c:/T/LINK/*"), (std::vector<std::wstring>{L".", L"..", L"inner.txt"}));
    EXPECT_EQ(platform::get_file_attributes(L"C:\\t\\link\\inner.txt"), 0x20u);

    platform::find_data data;
    EXPECT_EQ(platform::find_first_file(L"C:\\nope\\*", data), platform::invalid_handle_value());
    EXPECT_EQ(platform::get_last_error(), platform::error_path_not_found);
    EXPECT_EQ(m.open_handles(), 0u);
}

TEST(SimFiles, RemovingALinkLeavesItsTarget) {
    machine& m = machine::instance();
    m.reset();
    m.create_file(L"C:\\target\\keep.txt");
    m.create_directory_link(L"C:\\t\\link", L"C:\\target");
    EXPECT_FALSE(platform::delete_file(L"C:\\t\\link"));
    EXPECT_EQ(platform::get_last_error(), platform::error_access_denied);
    EXPECT_TRUE(platform::remove_directory(L"C:\\t\\link"));
    EXPECT_FALSE(m.exists(L"C:\\t\\link"));
    EXPECT_TRUE(m.exists(L"C:\\target\\keep.txt"));
    EXPECT_EQ(m.tree(L"C:\\"),
              (std::vector<std::wstring>{L"C:\\t", L"C:\\target", L"C:\\target\\keep.txt"}));
}

TEST(SimFiles, DeleteAndRemoveFailures) {
    machine& m = machine::instance();
    m.reset();
    m.create_file(L"C:\\d\\ro.txt", platform::file_attribute_readonly);
    m.create_directory(L"C:\\d\\empty");
    const auto fails_with = [](bool ok) { return ok ? 0u : platform::get_last_error(); };
    EXPECT_EQ(fails_with(platform::delete_file(L"C:\\d\\missing")), 2u);
    EXPECT_EQ(fails_with(platform::delete_file(L"C:\\nodir\\x")), 3u);
    EXPECT_EQ(fails_with(platform::delete_file(L"C:\\d\\empty")), 5u);
    EXPECT_EQ(fails_with(platform::delete_file(L"C:\\d\\ro.txt")), 5u);
    EXPECT_EQ(fails_with(platform::remove_directory(L"C:\\d\\missing")), 2u);
    EXPECT_EQ(fails_with(platform::remove_directory(L"C:\\d\\ro.txt")), 267u);
    EXPECT_EQ(fails_with(platform::remove_directory(L"C:\\d")), 145u);
    EXPECT_EQ(platform::get_file_attributes(L"C:\\nodir\\x"), platform::invalid_file_attributes);
    EXPECT_EQ(platform::get_last_error(), 3u);

    EXPECT_EQ(platform::make_writable(L"C:\\d\\ro.txt"), 0);
    EXPECT_EQ(m.attributes(L"C:\\d\\ro.txt"), 0x20u);
    EXPECT_EQ(platform::make_writable(L"C:\\d\\gone"), -1);
    EXPECT_EQ(platform::get_last_error(), 2u);
    EXPECT_TRUE(platform::delete_file(L"C:\\d\\ro.txt"));
    EXPECT_TRUE(platform::remove_directory(L"C:\\d\\empty"));
    EXPECT_TRUE(platform::remove_directory(L"C:\\d"));
    EXPECT_EQ(m.tree(L"C:"), std::vector<std::wstring>{});
}

// --- Faults, handles, clock --------------------------------------------------------

TEST(SimFaults, OnlyTheNamedSubjectFailsAndOnlySoOften) {
    machine& m = machine::instance();
    m.reset();
    m.create_file(L"C:\\a\\x");
    m.create_file(L"C:\\b\\x");
    m.fail(operation::delete_file, 5, L"c:/A/x", 1);
    m.fail(operation::find_first_file, 32, L"C:\\b");
    EXPECT_TRUE(platform::delete_file(L"C:\\b\\x"));
    EXPECT_FALSE(platform::delete_file(L"C:\\a\\x"));
    EXPECT_EQ(platform::get_last_error(), 5u);
    EXPECT_TRUE(m.exists(L"C:\\a\\x"));
    EXPECT_TRUE(platform::delete_file(L"C:\\a\\x"));
    EXPECT_EQ(m.calls(operation::delete_file), 3);
    EXPECT_EQ(list(L"C:\\a\\*").size(), 2u);
    EXPECT_TRUE(list(L"C:\\b\\*").empty());
    EXPECT_EQ(platform::get_last_error(), 32u);

    const auto first = m.start_process(L"\\Device\\1.exe");
    const auto second = m.start_process(L"\\Device\\2.exe");
    m.fail(operation::open_process, 5, std::to_wstring(second), 2);
    platform::handle h = platform::open_process(platform::process_all_access, false, first);
    EXPECT_NE(h, nullptr);
    platform::close_handle(h);
    EXPECT_EQ(platform::open_process(platform::process_all_access, false, second), nullptr);
    EXPECT_EQ(platform::open_process(platform::process_all_access, false, second), nullptr);
    h = platform::open_process(platform::process_all_access, false, second);
    EXPECT_NE(h, nullptr);
    platform::close_handle(h);
}

TEST(SimHandles, DistinctCountedAndClosedOnce) {
    machine& m = machine::instance();
    m.reset();
    const auto id = m.start_process(L"\\Device\\a.exe");
    platform::handle one = platform::open_process(platform::process_all_access, false, id);
    platform::handle two = platform::open_process(platform::process_all_access, false, id);
    m.create_directory(L"C:\\d");
    platform::find_data data;
    platform::handle listing = platform::find_first_file(L"C:\\d\\*", data);
    EXPECT_NE(one, two);
    EXPECT_NE(one, platform::invalid_handle_value());
    EXPECT_EQ(m.open_handles(), 3u);
    EXPECT_FALSE(platform::close_handle(listing));  // a listing is closed by find_close only
    EXPECT_EQ(platform::get_last_error(), platform::error_invalid_handle);
    EXPECT_FALSE(platform::find_close(one));
    EXPECT_TRUE(platform::find_close(listing));
    EXPECT_TRUE(platform::close_handle(one));
    EXPECT_FALSE(platform::close_handle(one));
    EXPECT_EQ(platform::wait_for_single_object(one, 0), platform::wait_failed);
    EXPECT_EQ(m.open_handles(), 1u);
    platform::close_handle(two);
}

TEST(SimClock, SleepsAddUpAndLocalTimeIsShifted) {
    machine& m = machine::instance();
    m.reset();
    EXPECT_EQ(platform::current_time(), 1767323045);
    for (int i = 0; i < 1000; ++i) platform::sleep(60);
    EXPECT_EQ(platform::current_time(), 1767323045 + 60);
    EXPECT_EQ(m.elapsed_ms(), 60000u);
    EXPECT_EQ(m.sleeps().size(), 1000u);
    m.set_time(0);
    EXPECT_EQ(m.elapsed_ms(), 60000u);
    m.set_utc_offset(3600);
    std::tm local{};
    ASSERT_TRUE(platform::to_local_time(m.now(), local));
    EXPECT_EQ(local.tm_hour, 1);
    EXPECT_EQ(local.tm_year, 70);
}

TEST(SimMachine, ThreadsShareOneMachine) {
    machine& m = machine::instance();
    m.reset();
    const auto id = m.start_process(L"\\Device\\a.exe");
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([id] {
            for (int i = 0; i < 200; ++i) {
                platform::sleep(5);
                platform::handle h =
                    platform::open_process(platform::process_all_access, false, id);
                platform::close_handle(h);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(m.elapsed_ms(), 3000u);
    EXPECT_EQ(m.open_handles(), 0u);
    EXPECT_EQ(m.calls(operation::open_process), 600);
}

}  // namespace
