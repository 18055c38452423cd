#include "process.h"

#include <csignal>
#include <fcntl.h>
#include <future>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace lcd::test {

namespace {

constexpr auto GRACE = std::chrono::seconds(2);
constexpr auto POLL = std::chrono::milliseconds(20);

// Asks the group led by `pid` (our child) to stop, kills what is left of it after a grace
// period, and reaps the child.
void end_group(pid_t pid) {
    kill(-pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + GRACE;
    bool reaped = false;
    // The group is gone once no process in it is left to signal (an unreaped child counts).
    while (kill(-pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        if (!reaped)
            reaped = waitpid(pid, nullptr, WNOHANG) == pid;
        std::this_thread::sleep_for(POLL);
    }
    kill(-pid, SIGKILL);
    if (!reaped)
        waitpid(pid, nullptr, 0);
}

} // namespace

pid_t start_program(std::vector<std::string> argv, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const auto &[to, fd] : {std::pair{out, STDOUT_FILENO}, std::pair{err, STDERR_FILENO}}) {
        if (to == TO_NULL)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
        else if (to != INHERITED)
            posix_spawn_file_actions_adddup2(&actions, to, fd);
    }
    std::vector<char *> args;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    // Its own process group, so that ending it also ends what it started (lcdsim under a
    // script, Wine's processes), which would otherwise keep its output pipe open.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

Finished run_program(std::vector<std::string> argv, std::chrono::seconds limit, Capture capture) {
    Finished result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = start_program(std::move(argv), out[1],
                                    capture == Capture::StdoutAndStderr ? out[1] : INHERITED);
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return result;
    }
    auto reader = std::async(std::launch::async, [fd = out[0]] {
        std::string text;
        char chunk[4096];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0)
            text.append(chunk, static_cast<std::size_t>(n));
        close(fd);
        return text;
    });
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    bool killed = false;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            end_group(pid);
            killed = true;
            break;
        }
        std::this_thread::sleep_for(POLL);
    }
    result.output = reader.get();
    result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace lcd::test
