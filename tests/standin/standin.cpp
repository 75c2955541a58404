// Stands in for the agent and its plugins in the Windows tests: a console program that
// runs until it is terminated, as they do.
//
//   --hold <path>       keeps <path> open for the whole run. The C runtime opens files
//                       without delete sharing, so deleting the file fails with a
//                       sharing violation meanwhile, as it does for a live agent's log.
//   --exit-after <ms>   ends by itself after <ms> milliseconds, with exit code 7.
//
// Other arguments (the real programs' options) are accepted and ignored. An option given
// twice takes its last value.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr int exit_code_when_done = 7;

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<std::FILE, file_closer> held;
    std::optional<std::chrono::milliseconds> lifetime;

    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--hold") == 0 && has_value) {
            const char* path = argv[++i];
            held.reset(std::fopen(path, "ab"));
            if (!held) {
                std::fprintf(stderr, "standin: cannot open %s\n", path);
                return 1;
            }
        } else if (std::strcmp(argv[i], "--exit-after") == 0 && has_value) {
            lifetime = std::chrono::milliseconds(std::strtoll(argv[++i], nullptr, 10));
        }
    }

    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (lifetime && std::chrono::steady_clock::now() - started >= *lifetime) {
            return exit_code_when_done;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
