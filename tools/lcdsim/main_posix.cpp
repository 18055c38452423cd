// lcdsim on Linux: its entry, the help's words for Linux inputs, which input a command line
// opens (a file, stdin, a serial device or --pty), and Ctrl-C and SIGTERM as a stop.
#include "input_posix.h"
#include "platform.h"

#include <csignal>

namespace lcd::sim {

const char *const USAGE_INPUTS = R"(usage: lcdsim [options] INPUT
       lcdsim [options] --pty
       lcdsim --compare A.png B.png

The controller, simulated: decodes the driver's byte stream (line records,
settings, finishes) onto a 640x480 panel and reports what it saw.

INPUT is a capture file, - for stdin, or a serial device (/dev/ttyUSB0) wired
to the controller's line. --pty creates a pseudo-terminal, prints its path and
reads what the driver writes there (liblcd_driver.so, or a COM port that Wine
maps to it). --compare compares two panel pictures pixel by pixel.
)";

const char *const USAGE_LINE_OPTIONS =
    R"(  --idle-exit SECS  stop when nothing arrives for SECS seconds (default 30 for
                    --pty and serial devices without --window; files and stdin
                    end at their end)
  --pty-file PATH   with --pty: also write the terminal's path to PATH
)";

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
