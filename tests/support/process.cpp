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
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
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
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.output = reader.get();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace lcd::test
