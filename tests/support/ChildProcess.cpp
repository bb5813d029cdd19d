#include "support/ChildProcess.h"

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velloq::test {

ChildProcess::ChildProcess(std::vector<std::string> const& arguments, std::vector<std::string> const& environment)
{
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        variables.emplace_back(*entry);
    for (auto const& added : environment) {
        std::string name = added.substr(0, added.find('=') + 1);
        std::erase_if(variables, [&](std::string const& existing) { return existing.rfind(name, 0) == 0; });
        variables.push_back(added);
    }
    std::vector<char*> argv;
    for (auto const& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto const& variable : variables)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        // A test process that dies (a crash, an abort) takes its helpers along: a bus or a
        // service left running would hold the test runner's output open and hang it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void ChildProcess::signal(int number) const
{
    if (!m_reaped)
        kill(m_pid, number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit)
{
    if (m_reaped)
        return m_exit;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_reaped = true;
            m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1 - WTERMSIG(status);
            return m_exit;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<std::string> headless_environment(std::string const& device)
{
    return { "VELLOQ_DEVICE=" + device, "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy" };
}

}
