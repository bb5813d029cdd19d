#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velloq::test {

// A program a test starts; ended (SIGKILL) when the object goes if it still runs, so no test
// leaves a process behind.
class ChildProcess {
public:
    // Starts the program with the arguments, with the environment variables "NAME=value" added.
    ChildProcess(std::vector<std::string> const& arguments, std::vector<std::string> const& environment = {});
    ~ChildProcess();
    ChildProcess(ChildProcess const&) = delete;
    ChildProcess& operator=(ChildProcess const&) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int number) const;
    // The exit code when the program ended by itself in time; -1 - signal when a signal ended
    // it; nullopt when it still runs at the limit.
    std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(20));

private:
    pid_t m_pid { -1 };
    bool m_reaped { false };
    // How it ended, once reaped: asked again, the same answer.
    int m_exit { 0 };
};

// The environment a headless program needs: the device folder and SDL's dummy video driver.
std::vector<std::string> headless_environment(std::string const& device);

}
