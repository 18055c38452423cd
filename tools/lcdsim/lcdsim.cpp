// lcdsim: the display controller, simulated. Reads the controller's byte stream from a capture
// file, stdin, a serial device or a pseudo-terminal of its own, keeps the 640x480 panel as the
// controller would, writes it as a PNG and reports what it saw.
#include "lcd_version.h"
#include "panel_decoder.h"
#include "png_panel.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr const char USAGE[] =
    R"(usage: lcdsim [options] INPUT        INPUT: a capture file, - for stdin, or a serial device
       lcdsim [options] --pty           create a pseudo-terminal and print its path
       lcdsim --compare A.png B.png     compare two panel pictures pixel by pixel

The controller, simulated: decodes the driver's byte stream (line records, settings, finishes)
onto a 640x480 panel and reports frames, line records, settings, finishes and errors.

options:
  --png PATH         write the panel as a PNG after each complete frame (a frame is complete at
                     its line record for line 239, the 240th the driver sends), when the input
                     pauses with lines drawn since (200 ms), and at the end. Written to a
                     temporary file and renamed, so a viewer never sees half a picture.
  --scale N          draw each panel pixel as N x N (1..8, default 1)
  --frames N         stop after N complete frames (then waits 100 ms for a trailing setting);
                     fewer by the end of the input or the idle time is an error
  --idle-exit SECS   stop when nothing arrives for SECS seconds (default 30 for --pty and
                     serial devices; files and stdin end at end of input)
  --pty-file PATH    with --pty: also write the terminal's path to PATH
  --quiet            no report on stdout (errors still go to stderr)
  -h, --help         this text
  --version          the version of lcdsim

Bad input (unknown command, a record cut short, a line byte over 239, an address past the
panel, an escape followed by neither a command nor 0x0E, bytes outside any command) is reported
on stderr with its byte offset; decoding resumes at the next command. Exit status: 0 clean,
1 when the stream had errors or fewer frames than --frames came, 2 for usage or I/O problems.
)";

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
    g_stop = 1;
}

struct Options {
    std::string input;
    bool pty = false;
    std::string png;
    std::string pty_file;
    unsigned scale = 1;
    std::uint64_t frames = 0; // 0: no limit
    double idle_exit = -1;    // < 0: default
    bool quiet = false;
};

[[noreturn]] void usage_error(const char *what) {
    std::fprintf(stderr, "lcdsim: %s\n(see lcdsim --help)\n", what);
    std::exit(2);
}

bool parse_number(const char *text, double min, double max, double &out) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= min && v <= max))
        return false;
    out = v;
    return true;
}

struct Sim {
    lcd::sim::PanelDecoder decoder;
    Options options;
    std::uint64_t drawn_at_png = 0; // line records placed when the PNG was last written
    bool png_written = false;
    bool io_failed = false;

    void write_png() {
        if (options.png.empty())
            return;
        std::string why;
        if (!lcd::sim::write_panel_png(decoder.panel(), options.scale, options.png, why)) {
            std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", options.png.c_str(), why.c_str());
            io_failed = true;
        }
        drawn_at_png = decoder.counters().line_records;
        png_written = true;
    }
    void write_png_if_changed() {
        if (!png_written || decoder.counters().line_records != drawn_at_png)
            write_png();
    }
    bool frames_reached() const {
        return options.frames != 0 && decoder.counters().frames >= options.frames;
    }
};

void frame_done(void *context, const lcd::sim::PanelDecoder &) {
    static_cast<Sim *>(context)->write_png();
}

void print_error(const lcd::sim::DecodeError &e) {
    using lcd::sim::ErrorKind;
    char detail[64] = "";
    switch (e.kind) {
    case ErrorKind::UnknownCommand:
    case ErrorKind::StrayByte:
    case ErrorKind::LineOutOfRange:
        std::snprintf(detail, sizeof detail, " (0x%02X)", e.byte);
        break;
    case ErrorKind::AddressPastPanel:
        std::snprintf(detail, sizeof detail, " (0x%02X: byte column %u + 40 > 80)", e.byte,
                      e.byte & 0x7Fu);
        break;
    case ErrorKind::BadEscape:
        std::snprintf(detail, sizeof detail, " (0E %02X)", e.byte);
        break;
    case ErrorKind::LineRecordCutShort:
        if (e.at_end)
            std::snprintf(detail, sizeof detail, " by the end of the input");
        else
            std::snprintf(detail, sizeof detail, " by command 0E %02X", e.byte);
        break;
    case ErrorKind::SettingCutShort:
    case ErrorKind::EscapeAtEnd:
        std::snprintf(detail, sizeof detail, " at the end of the input");
        break;
    }
    std::fprintf(stderr, "lcdsim: offset %llu: %s%s\n", static_cast<unsigned long long>(e.offset),
                 lcd::sim::describe(e.kind), detail);
}

void report(const Sim &sim) {
    const lcd::sim::PanelDecoder &d = sim.decoder;
    for (std::size_t i = 0; i < d.kept_errors(); ++i)
        print_error(d.error(i));
    if (d.counters().errors > d.kept_errors())
        std::fprintf(stderr, "lcdsim: ... and %llu more errors\n",
                     static_cast<unsigned long long>(d.counters().errors - d.kept_errors()));
    if (sim.options.quiet)
        return;
    const lcd::sim::Counters &c = d.counters();
    std::printf("bytes         %llu\n", static_cast<unsigned long long>(c.bytes));
    std::printf("frames        %llu", static_cast<unsigned long long>(c.frames));
    if (d.lines_since_frame() != 0)
        std::printf(" (+ %llu lines of an unfinished frame)",
                    static_cast<unsigned long long>(d.lines_since_frame()));
    std::printf("\nline records  %llu\n", static_cast<unsigned long long>(c.line_records));
    std::printf("settings      %llu", static_cast<unsigned long long>(c.settings));
    if (c.settings != 0) {
        std::printf(" (last:");
        const std::size_t n = d.last_setting_length() < lcd::sim::SETTING_BYTES_KEPT
                                  ? d.last_setting_length()
                                  : lcd::sim::SETTING_BYTES_KEPT;
        for (std::size_t i = 0; i < n; ++i)
            std::printf(" %02X", d.last_setting()[i]);
        if (n < d.last_setting_length())
            std::printf(" ... %zu bytes", d.last_setting_length());
        std::printf(")");
    }
    std::printf("\nfinishes      %llu\n", static_cast<unsigned long long>(c.finishes));
    std::printf("errors        %llu\n", static_cast<unsigned long long>(c.errors));
    if (!sim.options.png.empty())
        std::printf("png           %s\n", sim.options.png.c_str());
    std::fflush(stdout);
}

// A terminal read raw: every byte as it arrives, nothing translated or echoed.
void make_raw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
#ifdef B3000000
    cfsetspeed(&tio, B3000000);
#endif
    tcsetattr(fd, TCSANOW, &tio);
}

using Clock = std::chrono::steady_clock;

// Reads `fd` until end of input, a stop condition or a signal.
void run(Sim &sim, int fd, bool live) {
    constexpr int PAUSE_MS = 200;
    const double idle_limit = sim.options.idle_exit >= 0 ? sim.options.idle_exit : (live ? 30 : -1);
    auto last_byte = Clock::now();
    std::uint8_t buffer[65536];
    while (g_stop == 0) {
        int timeout = PAUSE_MS;
        if (sim.frames_reached())
            timeout = 100; // a setting may still trail the last frame
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "lcdsim: poll: %s\n", std::strerror(errno));
            sim.io_failed = true;
            break;
        }
        if (ready == 0) {
            if (sim.frames_reached())
                break;
            // The input paused: show what has been drawn since the last picture.
            if (sim.png_written && sim.decoder.counters().line_records != sim.drawn_at_png)
                sim.write_png();
            const double idle = std::chrono::duration<double>(Clock::now() - last_byte).count();
            if (idle_limit >= 0 && idle >= idle_limit) {
                if (!sim.options.quiet)
                    std::fprintf(stderr, "lcdsim: nothing for %.1f s, stopping\n", idle);
                break;
            }
            continue;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if ((n < 0 && errno == EIO && live) || (n == 0 && live)) {
            // A terminal hung up or with its other side closed: it may come back.
            usleep(50'000);
            continue;
        }
        if (n < 0) {
            std::fprintf(stderr, "lcdsim: read: %s\n", std::strerror(errno));
            sim.io_failed = true;
            break;
        }
        if (n == 0)
            break;
        last_byte = Clock::now();
        sim.decoder.feed(buffer, static_cast<std::size_t>(n));
    }
    sim.decoder.finish();
}

int compare(const char *a, const char *b) {
    lcd::sim::Panel pa{}, pb{};
    std::string why;
    if (!lcd::sim::read_panel_png(a, pa, why)) {
        std::fprintf(stderr, "lcdsim: %s: %s\n", a, why.c_str());
        return 2;
    }
    if (!lcd::sim::read_panel_png(b, pb, why)) {
        std::fprintf(stderr, "lcdsim: %s: %s\n", b, why.c_str());
        return 2;
    }
    std::size_t differ = 0;
    for (std::size_t i = 0; i < pa.size(); ++i)
        differ += static_cast<std::size_t>(__builtin_popcount(pa[i] ^ pb[i]));
    if (differ == 0) {
        std::printf("lcdsim: %s and %s show the same panel\n", a, b);
        return 0;
    }
    std::printf("lcdsim: %s and %s differ in %zu pixels\n", a, b, differ);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    Sim sim;
    Options &o = sim.options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage_error((arg + " needs a value").c_str());
            return argv[++i];
        };
        double v = 0;
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("lcdsim " LCD_VERSION);
            return 0;
        } else if (arg == "--compare") {
            if (argc != i + 3)
                usage_error("--compare takes two PNG files and nothing else");
            return compare(argv[i + 1], argv[i + 2]);
        } else if (arg == "--pty") {
            o.pty = true;
        } else if (arg == "--png") {
            o.png = value();
        } else if (arg == "--pty-file") {
            o.pty_file = value();
        } else if (arg == "--scale") {
            if (!parse_number(value(), 1, 8, v) || v != static_cast<unsigned>(v))
                usage_error("--scale takes a whole number from 1 to 8");
            o.scale = static_cast<unsigned>(v);
        } else if (arg == "--frames") {
            if (!parse_number(value(), 1, 1e9, v) || v != static_cast<std::uint64_t>(v))
                usage_error("--frames takes a whole number of at least 1");
            o.frames = static_cast<std::uint64_t>(v);
        } else if (arg == "--idle-exit") {
            if (!parse_number(value(), 0, 86400, v))
                usage_error("--idle-exit takes seconds from 0 to 86400");
            o.idle_exit = v;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error(("unknown option " + arg).c_str());
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            usage_error("more than one input");
        }
    }
    if (o.pty == !o.input.empty())
        usage_error(o.pty ? "--pty takes no input" : "no input (a file, -, a device or --pty)");

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim.decoder.set_frame_callback(frame_done, &sim);
    int fd = -1;
    int pty_slave = -1;
    bool live = false;
    if (o.pty) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char *name = fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 ? ptsname(fd) : nullptr;
        if (name == nullptr) {
            std::fprintf(stderr, "lcdsim: cannot create a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 2;
        }
        const std::string path = name;
        // Held open so the terminal survives the driver closing it and reopening it, and set
        // raw so the bytes arrive untranslated even before the driver sets the line up.
        pty_slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pty_slave >= 0)
            make_raw(pty_slave);
        if (!o.pty_file.empty()) {
            const std::string tmp = o.pty_file + ".tmp";
            FILE *f = std::fopen(tmp.c_str(), "w");
            if (f == nullptr || std::fprintf(f, "%s\n", path.c_str()) < 0 || std::fclose(f) != 0 ||
                std::rename(tmp.c_str(), o.pty_file.c_str()) != 0) {
                std::fprintf(stderr, "lcdsim: cannot write %s\n", o.pty_file.c_str());
                return 2;
            }
        }
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        live = true;
    } else if (o.input == "-") {
        fd = STDIN_FILENO;
    } else {
        fd = open(o.input.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "lcdsim: cannot open %s: %s\n", o.input.c_str(),
                         std::strerror(errno));
            return 2;
        }
        if (isatty(fd)) {
            make_raw(fd);
            live = true;
        }
    }

    run(sim, fd, live);
    sim.write_png_if_changed();
    report(sim);
    if (pty_slave >= 0)
        close(pty_slave);
    if (fd != STDIN_FILENO)
        close(fd);
    if (sim.io_failed)
        return 2;
    if (o.frames != 0 && sim.decoder.counters().frames < o.frames) {
        std::fprintf(stderr, "lcdsim: %llu of the %llu frames asked for arrived\n",
                     static_cast<unsigned long long>(sim.decoder.counters().frames),
                     static_cast<unsigned long long>(o.frames));
        return 1;
    }
    return sim.decoder.counters().errors != 0 ? 1 : 0;
}
