// What a log line costs when LogLevel suppresses it and when it is written and flushed,
// and what one search of a busy process table costs. Run on the simulated machine:
//   cmake --build --preset native --target service_bench && build/native/bench/service_bench
#include <benchmark/benchmark.h>

#include <string>

#include "logging/diagnostic_log.h"
#include "process/find_processes.h"
#include "sim/machine.h"

namespace {

// The log is written into the simulated machine's file tree.
const std::wstring log_path = L"C:\\logs\\quillmark_service_bench.log";

// Each measurement starts a new process of the service, with a log of its own.
void start_process_with_log_level(int level) {
    auto& machine = sim::machine::instance();
    machine.reset();
    machine.set_module_path(L"C:\\svc\\quillmark_snaptel.exe");
    machine.create_directory(L"C:\\logs");
    machine.set_settings_file(
        L"C:\\svc\\quillmark_snaptel.ini",
        L"[SERVICE]\r\nLogLevel=" + std::to_wstring(level) + L"\r\nLogFile=" + log_path + L"\r\n");
}

const std::wstring image = L"\\Device\\HarddiskVolume1\\Program Files\\Quillmark\\snapteld.exe";

void suppressed_debug_line(benchmark::State& state) {
    logging::diagnostic_log log;
    start_process_with_log_level(3);
    for (auto _ : state) {
        logging::log_debug(L"find_processes", L"adding process", image);
    }
}
BENCHMARK(suppressed_debug_line);

void written_debug_line(benchmark::State& state) {
    logging::diagnostic_log log;
    start_process_with_log_level(0);
    for (auto _ : state) {
        logging::log_debug(L"find_processes", L"adding process", image);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations()) *
        static_cast<std::int64_t>(std::string(":<D>:  find_processes adding process ").size() +
                                  image.size() + 22));
}
BENCHMARK(written_debug_line);

void search_of_a_busy_process_table(benchmark::State& state) {
    logging::diagnostic_log log;
    start_process_with_log_level(3);
    auto& machine = sim::machine::instance();
    for (int i = 0; i < state.range(0); ++i) {
        machine.start_process(L"\\Device\\HarddiskVolume1\\Windows\\svchost.exe");
    }
    machine.start_process(image);
    process::process_list found;
    for (auto _ : state) {
        benchmark::DoNotOptimize(process::find_processes(L"snapteld.exe", found));
    }
}
BENCHMARK(search_of_a_busy_process_table)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
