#include "tests/support/ReadyChild.h"

#include "tests/support/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

ReadyChild::ReadyChild(const std::string& program, const std::vector<std::string>& args,
                       const std::string& readyPrefix, int patienceMs) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_error = "no pipe for " + program;
        return;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        if (ChildProcess::BecomeServerChild(SIGTERM, parent))
            execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string said;
    char c = 0;
    pollfd ready{pipeFds[0], POLLIN, 0};
    while (poll(&ready, 1, patienceMs) > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n')
        said += c;
    close(pipeFds[0]);
    if (m_pid < 0)
        m_error = "could not start " + program;
    else if (said.rfind(readyPrefix, 0) != 0)
        m_error = program + " did not come up: \"" + said + "\"";
}

ReadyChild::~ReadyChild() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}
