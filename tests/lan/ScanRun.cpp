#include "tests/lan/ScanRun.h"

#include "tests/support/TempDir.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

ScanRun RunScan(const std::vector<std::string>& args, const ScanSetup& setup) {
    static TempDir emptyConfig;
    TempDir ownConfig;
    if (!setup.store.empty()) {
        std::filesystem::create_directories(ownConfig.file("BRELLOW"));
        TempDir::WriteFile(ownConfig.file("BRELLOW/registry.reg"), setup.store);
    }
    const TempDir& config = setup.store.empty() ? emptyConfig : ownConfig;
    TempDir errors;
    ScanRun run;
    std::vector<std::string> argv = {KD_VOPAL_SCAN_PATH};
    if (!setup.nofile.empty())
        argv = {"/usr/bin/prlimit", "--nofile=" + setup.nofile, KD_VOPAL_SCAN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.path(), "PATH=/usr/bin:/bin"};
    if (!setup.tmpdir.empty())
        env.push_back("TMPDIR=" + setup.tmpdir);
    env.insert(env.end(), setup.environment.begin(), setup.environment.end());
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.file("stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return run;
    }
    std::thread interrupter;
    std::chrono::steady_clock::time_point interrupted;
    if (setup.interruptAfter)
        interrupter = std::thread([&, pid, after = *setup.interruptAfter] {
            std::this_thread::sleep_for(after);
            interrupted = std::chrono::steady_clock::now();
            const bool together = setup.signals.size() > 1;
            if (together)
                kill(pid, SIGSTOP);
            for (int signal : setup.signals)
                kill(pid, signal);
            if (together)
                kill(pid, SIGCONT);
        });
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (interrupter.joinable()) {
        interrupter.join();
        run.stopTook = std::chrono::steady_clock::now() - interrupted;
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.errors = TempDir::ReadFile(errors.file("stderr"));

    std::istringstream lines(run.output);
    std::string line;
    bool title = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (title) {
            title = false;
            continue;
        }
        ScanRow row;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ','))
            row.push_back(field);
        if (!row.empty()) {
            run.order.push_back(row[0]);
            run.rows[row[0]] = row;
        }
    }
    return run;
}

namespace {

std::string Joined(const ScanRow& row) {
    std::string text;
    for (const std::string& cell : row)
        text += (text.empty() ? "" : ",") + cell;
    return text;
}

} // namespace

std::string RowDifferences(const std::map<std::string, ScanRow>& got,
                           const std::map<std::string, ScanRow>& wanted, size_t limit) {
    std::ostringstream text;
    size_t count = 0;
    const auto tell = [&](const std::string& line) {
        if (count++ < limit)
            text << line << '\n';
    };
    for (const auto& [address, row] : wanted) {
        const auto found = got.find(address);
        if (found == got.end())
            tell("missing: " + Joined(row));
        else if (found->second != row)
            tell("wanted:  " + Joined(row) + "\n  got:   " + Joined(found->second));
    }
    for (const auto& [address, row] : got)
        if (!wanted.count(address))
            tell("extra:   " + Joined(row));
    if (count > limit)
        text << "... " << count - limit << " more\n";
    return text.str();
}
