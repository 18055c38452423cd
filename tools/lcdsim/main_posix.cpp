// lcdsim on Linux: its entry, which input a command line opens (a file, stdin, a serial
// device or --pty), and Ctrl-C and SIGTERM as a stop.
#include "input_posix.h"
#include "platform.h"

#include <csignal>

namespace lcd::sim {

std::atomic<bool> g_stop{false};

namespace {
void on_signal(int) {
    g_stop = true;
}
} // namespace

void catch_stop_requests() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader of stdout that went away must not end lcdsim before its PNG and report.
    std::signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<Input> open_input(const Options &options, std::string &why, bool &usage) {
    usage = false;
    if (options.pty)
        return open_pty_input(options.pty_file, why);
    return open_file_input(options.input, why);
}

} // namespace lcd::sim

int main(int argc, char **argv) {
    return lcd::sim::run_lcdsim(std::vector<std::string>(argv + 1, argv + argc));
}
