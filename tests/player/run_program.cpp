#include "tests/player/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "check/screen_format.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr size_t kCanaryBytes = 4096;
constexpr uint64_t kLargestScreenFileBytes = 64u << 20;

uint8_t canary_byte(size_t i) {
    return static_cast<uint8_t>(i * 7 + 13);
}

std::vector<uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> read_lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

// Whether the run sets `entry`'s variable itself: the preload, the double's settings, the
// sanitizer options and any variable of the test's own `env`.
bool is_overridden(const std::string& entry, const std::vector<std::string>& env) {
    for (const std::string& e : env) {
        const size_t name = e.find('=');
        if (name != std::string::npos && entry.compare(0, name + 1, e, 0, name + 1) == 0) {
            return true;
        }
    }
    return entry.rfind("LD_PRELOAD=", 0) == 0 || entry.rfind("ZELT_DOUBLE_", 0) == 0 ||
           entry.rfind("ASAN_OPTIONS=", 0) == 0;
}

// The variables meant for the program: the double's configuration and the preload.
std::vector<std::string> program_variables(const run_options& o, const fs::path& dir,
                                           bool screen_file) {
    std::vector<std::string> vars = {
        std::string("LD_PRELOAD=") + ZELT_DOUBLE_PATH,
        "ZELT_DOUBLE_LOG=" + (dir / "events.log").string(),
    };
    // gcc's dynamic sanitizer runtime refuses a library preloaded ahead of it unless told not
    // to check; the double itself is never sanitized.
    const char* asan = std::getenv("ASAN_OPTIONS");
    vars.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                   (asan != nullptr && *asan != '\0' ? ":" : "") + "verify_asan_link_order=0");
    if (!o.screen.empty()) {
        vars.push_back("ZELT_DOUBLE_SCREEN=" + o.screen);
    }
    if (screen_file) {
        vars.push_back("ZELT_DOUBLE_SCREEN_FILE=" + (dir / "screen.raw").string());
    }
    if (!o.virtual_size.empty()) {
        vars.push_back("ZELT_DOUBLE_VIRTUAL=" + o.virtual_size);
    }
    if (!o.fail.empty()) {
        vars.push_back("ZELT_DOUBLE_FAIL=" + o.fail);
    }
    vars.push_back(std::string("ZELT_DOUBLE_SHELL=") + (o.shell ? "1" : "0"));
    if (!o.media_dir.empty()) {
        vars.push_back("ZELT_DOUBLE_MEDIA=" + o.media_dir);
    }
    if (o.end_after_frames >= 0) {
        vars.push_back("ZELT_DOUBLE_END_AFTER=" + std::to_string(o.end_after_frames));
    }
    if (o.frame_us >= 0) {
        vars.push_back("ZELT_DOUBLE_FRAME_US=" + std::to_string(o.frame_us));
    }
    if (o.save_frames) {
        fs::create_directory(dir / "frames");
        vars.push_back("ZELT_DOUBLE_FRAMES_DIR=" + (dir / "frames").string());
    }
    vars.insert(vars.end(), o.env.begin(), o.env.end());
    return vars;
}

// Writes the backing file: the screen memory filled with `fill`, then the canary.
void write_screen_file(const fs::path& path, long memory, uint8_t fill) {
    std::vector<uint8_t> bytes(memory > 0 ? static_cast<size_t>(memory) : 0, fill);
    for (size_t i = 0; i < kCanaryBytes; ++i) {
        bytes.push_back(canary_byte(i));
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void read_screen_file(const fs::path& path, long memory, run_result* r) {
    const size_t screen_bytes = memory > 0 ? static_cast<size_t>(memory) : 0;
    std::vector<uint8_t> bytes = read_bytes(path);
    r->canary_intact = bytes.size() == screen_bytes + kCanaryBytes;
    for (size_t i = 0; r->canary_intact && i < kCanaryBytes; ++i) {
        r->canary_intact = bytes[screen_bytes + i] == canary_byte(i);
    }
    bytes.resize(std::min(bytes.size(), screen_bytes));
    r->screen = std::move(bytes);
}

void wait_for(pid_t pid, run_result* r) {
    int status = 0;
    pid_t done = -1;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done != pid) {
        ADD_FAILURE() << "waitpid: " << std::strerror(errno);
        return;
    }
    r->exited = WIFEXITED(status);
    r->exit_status = r->exited ? WEXITSTATUS(status) : -1;
    r->signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace

long screen_memory_bytes(const run_options& o) {
    screen_description d{};
    if (parse_screen_description(o.screen.c_str(), &d, nullptr) != 0) {
        return -1;
    }
    const fb_var_screeninfo& s = d.var;
    uint64_t rows = s.yres;
    unsigned w = 0;
    unsigned h = 0;
    if (!o.virtual_size.empty() && std::sscanf(o.virtual_size.c_str(), "%ux%u", &w, &h) == 2) {
        rows = h;
    }
    // As the double works it out: smem_len when the test sets one that is not 0 (in the screen
    // or its own variable), else line_length x virtual height; never less than the packed
    // screen.
    uint64_t memory = d.smem_len != 0 ? d.smem_len : uint64_t{d.line_length} * rows;
    for (const std::string& e : o.env) {
        if (e.rfind("ZELT_DOUBLE_SMEM=", 0) == 0) {
            const uint64_t smem =
                std::strtoull(e.c_str() + std::strlen("ZELT_DOUBLE_SMEM="), nullptr, 10);
            memory = smem != 0 ? smem : memory;
        }
    }
    memory = std::max<uint64_t>(memory, packed_row_bytes(s) * s.yres);
    return memory == 0 || memory > INT_MAX ? -1 : static_cast<long>(memory);
}

run_result run_program(const run_options& o) {
    run_result r;
    std::string pattern = (fs::temp_directory_path() / "zelt-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return r;
    }
    const fs::path dir = pattern;

    // A screen too large to map gets no screen memory in its file, only the canary.
    const long memory = o.screen.empty() ? -1 : screen_memory_bytes(o);
    const bool screen_file = !o.screen.empty();
    const bool small = memory > 0 && static_cast<uint64_t>(memory) <= kLargestScreenFileBytes;
    const long file_screen_bytes = small ? memory : 0;
    if (screen_file) {
        write_screen_file(dir / "screen.raw", file_screen_bytes, o.screen_fill);
    }

    const std::vector<std::string> vars = program_variables(o, dir, screen_file);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!is_overridden(*e, o.env)) {
            env.emplace_back(*e);
        }
    }
    std::vector<std::string> args = split(ZELT_EMULATOR, '|');
    const std::string program = o.program.empty() ? ZELT_PROGRAM_PATH : o.program;
    for (const std::string& v : vars) {
        if (!args.empty() && v.rfind("LD_PRELOAD=", 0) == 0) {
            // Under an emulator the target library is preloaded into the emulated program
            // only: in the emulator's own environment the host's loader would try it too.
            args.push_back("-E");
            args.push_back(v);
        } else {
            // The emulator hands its environment on unchanged; its -E would split values at
            // commas.
            env.push_back(v);
        }
    }
    args.push_back(program);
    args.insert(args.end(), o.args.begin(), o.args.end());

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out_path = (dir / "stdout").string();
    const std::string err_path = (dir / "stderr").string();
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "spawn " << argv[0] << ": " << std::strerror(spawned);
    } else {
        wait_for(pid, &r);
    }

    r.out = read_text(dir / "stdout");
    r.err = read_text(dir / "stderr");
    r.events = read_lines(dir / "events.log");
    if (screen_file) {
        read_screen_file(dir / "screen.raw", file_screen_bytes, &r);
    }
    if (o.save_frames) {
        for (int n = 1;; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%03d.raw", n);
            const fs::path frame = dir / "frames" / name;
            if (!fs::exists(frame)) {
                break;
            }
            r.frames.push_back(read_bytes(frame));
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return r;
}
