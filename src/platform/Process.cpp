#include "platform/Process.h"

#include <ctime>

#include "platform/FileDescriptor.h"
#include "platform/Utf.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <sstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velloq::platform {

std::vector<std::u16string> split_command_line(std::u16string_view line)
{
    std::vector<std::u16string> arguments;
    size_t i = 0;
    auto is_blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
    while (i < line.size()) {
        while (i < line.size() && is_blank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::u16string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !is_blank(line[i]))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                argument.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1)
                    argument.push_back(u'"');
                else
                    quoted = !quoted;
                ++i;
                continue;
            }
            argument.append(backslashes, u'\\');
            if (i < line.size() && (quoted || !is_blank(line[i])))
                argument.push_back(line[i++]);
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

namespace {

std::string resolve_program(std::string const& program)
{
    if (program.find('/') != std::string::npos)
        return program;
    char const* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos)
            end = directories.size();
        std::string candidate = directories.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return program;
}

// This process's environment with the given NAME=VALUE entries put over it.
std::vector<std::string> merged_environment(std::vector<std::string> const& overrides)
{
    std::vector<std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string variable = *entry;
        std::string name = variable.substr(0, variable.find('='));
        bool replaced = std::any_of(overrides.begin(), overrides.end(), [&](std::string const& o) { return o.compare(0, name.size() + 1, name + "=") == 0; });
        if (!replaced)
            merged.push_back(std::move(variable));
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

// Runs in the forked child: only async-signal-safe calls from here on, because the parent may
// have other threads whose locks were copied in an unknown state.
[[noreturn]] void run_grandchild(char const* program, char* const* argv, char* const* envp, int report_fd, int pid_fd)
{
    ::setsid();
    // The parent may block signals it takes with sigwait; the started program begins clean.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    pid_t grandchild = ::fork();
    if (grandchild != 0) {
        if (grandchild > 0) {
            ssize_t told = ::write(pid_fd, &grandchild, sizeof grandchild);
            (void)told;
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        if (null_fd > 2)
            ::close(null_fd);
    }
    ::execve(program, argv, envp);
    int error = errno;
    ssize_t ignored = ::write(report_fd, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

}

bool start_detached(std::vector<std::u16string> const& arguments, std::string& error, int64_t* started_pid, std::vector<std::string> const& environment)
{
    if (arguments.empty() || arguments.front().empty()) {
        error = "empty command line";
        return false;
    }
    std::vector<std::string> utf8_arguments;
    for (auto const& argument : arguments)
        utf8_arguments.push_back(to_utf8(argument));
    std::string program = resolve_program(utf8_arguments.front());
    std::vector<char*> argv;
    for (auto& argument : utf8_arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // The environment is made before the fork: the child may only make async-signal-safe calls.
    std::vector<std::string> variables = merged_environment(environment);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    FileDescriptor report_read(pipe_fds[0]);
    FileDescriptor report_write(pipe_fds[1]);
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    FileDescriptor pid_read(pipe_fds[0]);
    FileDescriptor pid_write(pipe_fds[1]);

    pid_t child = ::fork();
    if (child < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (child == 0)
        run_grandchild(program.c_str(), argv.data(), envp.data(), report_write.get(), pid_write.get());

    report_write.reset();
    pid_write.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    int exec_error = 0;
    ssize_t got;
    while ((got = ::read(report_read.get(), &exec_error, sizeof exec_error)) < 0 && errno == EINTR) { }
    if (got == static_cast<ssize_t>(sizeof exec_error)) {
        error = program + ": " + std::strerror(exec_error);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "could not start " + program;
        return false;
    }
    if (started_pid) {
        pid_t grandchild = 0;
        while ((got = ::read(pid_read.get(), &grandchild, sizeof grandchild)) < 0 && errno == EINTR) { }
        *started_pid = got == static_cast<ssize_t>(sizeof grandchild) ? grandchild : 0;
    }
    return true;
}

std::optional<std::string> read_program_output(std::vector<std::string> const& arguments, int timeout_ms)
{
    if (arguments.empty())
        return std::nullopt;
    std::string program = resolve_program(arguments.front());
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (auto& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
        return std::nullopt;
    FileDescriptor output_read(pipe_fds[0]);
    FileDescriptor output_write(pipe_fds[1]);
    pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        ::dup2(output_write.get(), 1);
        int null_fd = ::open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
            ::dup2(null_fd, 0);
            ::dup2(null_fd, 2);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    output_write.reset();
    std::string output;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool timed_out = false;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd watch { output_read.get(), POLLIN, 0 };
        int ready = left > 0 ? ::poll(&watch, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timed_out = true;
            break;
        }
        ssize_t got = ::read(output_read.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, static_cast<size_t>(got));
    }
    if (timed_out)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (timed_out || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

std::optional<uint64_t> milliseconds_since_start()
{
    auto started = process_start_time(::getpid());
    timespec now {};
    long ticks_per_second = ::sysconf(_SC_CLK_TCK);
    if (!started || ticks_per_second <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return std::nullopt;
    uint64_t now_ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
    uint64_t started_ms = *started * 1000 / static_cast<uint64_t>(ticks_per_second);
    return now_ms >= started_ms ? std::optional<uint64_t>(now_ms - started_ms) : std::nullopt;
}

std::optional<uint64_t> process_start_time(int64_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return std::nullopt;
    // The name in brackets may hold blanks and brackets of its own: the fields follow the last ')'.
    size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(name_end + 1));
    std::string state;
    fields >> state;
    // A process that has ended but is not yet reaped is no longer running.
    if (state == "Z" || state == "X")
        return std::nullopt;
    std::string field;
    // Fields 4 to 21 come before the start time, field 22.
    for (int index = 4; index <= 21 && fields >> field; ++index) { }
    uint64_t started = 0;
    if (!(fields >> started))
        return std::nullopt;
    return started;
}

void end_process_now(int exit_code)
{
    ::_exit(exit_code);
}

}
