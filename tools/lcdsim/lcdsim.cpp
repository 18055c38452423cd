// lcdsim: the display controller, simulated. Reads the controller's byte stream from a capture
// file, stdin, a serial device or a pseudo-terminal of its own, keeps the 640x480 panel as the
// controller would, shows it in a window, writes it as a PNG, traces the stream and reports
// what it saw.
#include "lcd_version.h"
#include "panel_decoder.h"
#include "panel_look.h"
#include "panel_window.h"
#include "png_panel.h"
#include "stream_trace.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char USAGE[] =
    R"(usage: lcdsim [options] INPUT        INPUT: a capture file, - for stdin, or a serial device
       lcdsim [options] --pty           create a pseudo-terminal and print its path
       lcdsim --compare A.png B.png     compare two panel pictures pixel by pixel

The controller, simulated: decodes the driver's byte stream (line records, settings, finishes)
onto a 640x480 panel and reports frames, line records, settings, finishes and errors.

options:
  --window           show the panel live in a window, as the PNG draws it, updated as the
                     lines arrive; its title has the frame count, the errors and the last
                     setting. lcdsim then runs until the window is closed (the end of a file
                     or of stdin leaves the last panel on show), --frames or --idle-exit
                     stop it, or Ctrl-C; closing the window ends it as the end of input does
  --png PATH         write the panel as a PNG after each complete frame (a frame is complete at
                     its line record for line 239, the 240th the driver sends), when the input
                     pauses with lines drawn since (200 ms), and at the end. Written to a
                     temporary file and renamed, so a viewer never sees half a picture.
  --scale N          draw each panel pixel as N x N in the PNG and the window (1..8, default 1)
  --trace            print one line per command on stdout as it is decoded, with its byte
                     offset: settings and finishes with their bytes, line records as line,
                     half, byte column and the number of escaped bytes, and errors
  --capture FILE     keep the raw bytes received in FILE (lcdsim FILE replays them)
  --frames N         stop after N complete frames (then waits 100 ms for a trailing setting);
                     fewer by the end of the input or the idle time is an error
  --idle-exit SECS   stop when nothing arrives for SECS seconds (default 30 for --pty and
                     serial devices without --window; files and stdin end at end of input)
  --pty-file PATH    with --pty: also write the terminal's path to PATH
  --quiet            no report on stdout (errors still go to stderr)
  -h, --help         this text
  --version          the version of lcdsim

Bad input (unknown command, a record cut short, a line byte over 239, an address past the
panel, an escape followed by neither a command nor 0x0E, bytes outside any command) is reported
on stderr with its byte offset; decoding resumes at the next command. Exit status: 0 clean,
1 when the stream had errors or fewer frames than --frames came, 2 for usage or I/O problems
(a PNG or capture that cannot be written, no display for --window).
)";

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
// The input has paused when nothing came for this long: the PNG and the window catch up.
constexpr Millis PAUSE{200};
// After the last frame asked for, a setting may still trail it.
constexpr Millis TRAILING_SETTING{100};
// The window follows the line at most this often (about 28 frames a second, the line's pace).
constexpr Millis WINDOW_TICK{35};
// The report lists this many settings in order, then the count of the rest and the last.
constexpr std::size_t LISTED_SETTINGS = 16;

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
    g_stop = 1;
}

struct Options {
    std::string input;
    bool pty = false;
    std::string png;
    std::string pty_file;
    std::string capture;
    unsigned scale = 1;
    bool scale_given = false;
    std::uint64_t frames = 0;        // 0: no limit
    std::optional<double> idle_exit; // unset: the default for the input
    bool quiet = false;
    bool trace = false;
    bool window = false;
};

[[noreturn]] void usage_error(const std::string &what) {
    std::fprintf(stderr, "lcdsim: %s\n(see lcdsim --help)\n", what.c_str());
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

// The simulated controller's run: the decoder, and what follows its progress (PNG, window,
// trace, the settings for the report).
struct Sim final : lcd::sim::DecodeObserver {
    lcd::sim::PanelDecoder decoder;
    Options options;
    std::optional<lcd::sim::StreamTrace> trace;
    lcd::sim::PanelWindow window;
    bool window_open = false;
    std::string name; // the input, for the window's title
    bool input_ended = false;
    std::uint64_t drawn_at_png = 0; // line records placed when the PNG was last written
    bool png_written = false;
    bool png_failed = false;
    std::uint64_t bytes_at_show = ~std::uint64_t{0}; // bytes decoded when the window was drawn
    Clock::time_point shown_at{};
    std::vector<std::string> settings; // the first LISTED_SETTINGS, in order
    std::string last_setting;
    int capture_fd = -1;
    bool io_failed = false;

    void write_png() {
        if (options.png.empty() || png_failed)
            return;
        std::string why;
        if (!lcd::sim::write_panel_png(decoder.panel(), options.scale, options.png, why)) {
            // Once: a live input would otherwise repeat it at every frame.
            std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", options.png.c_str(), why.c_str());
            io_failed = png_failed = true;
        }
        drawn_at_png = decoder.counters().line_records;
        png_written = true;
    }
    void write_png_if_changed() {
        if (!png_written || decoder.counters().line_records != drawn_at_png)
            write_png();
    }

    std::string title() const {
        const lcd::sim::Counters &c = decoder.counters();
        std::string t = "lcdsim " + name + ": " + std::to_string(c.frames) +
                        (c.frames == 1 ? " frame, " : " frames, ") + std::to_string(c.errors) +
                        (c.errors == 1 ? " error, " : " errors, ");
        t += c.settings == 0
                 ? "no setting"
                 : "last setting " + lcd::sim::setting_text(decoder.last_setting(),
                                                            decoder.last_setting_length());
        if (input_ended)
            t += " (end of input)";
        return t;
    }
    // Draws the panel in the window when something arrived since and, unless `now_anyway`,
    // the last drawing is a tick old.
    void show(bool now_anyway) {
        if (!window_open || decoder.counters().bytes == bytes_at_show)
            return;
        const auto now = Clock::now();
        if (!now_anyway && now - shown_at < WINDOW_TICK)
            return;
        window.show(decoder.panel(), title().c_str());
        bytes_at_show = decoder.counters().bytes;
        shown_at = now;
    }
    void show_final() {
        bytes_at_show = ~std::uint64_t{0};
        show(true);
    }
    // The input paused: the PNG and the window show what has been drawn since.
    void paused() {
        if (decoder.counters().line_records != drawn_at_png)
            write_png();
        show(true);
    }
    bool frames_reached() const {
        return options.frames != 0 && decoder.counters().frames >= options.frames;
    }

    void keep(const std::uint8_t *data, std::size_t size) {
        while (capture_fd >= 0 && size > 0) {
            const ssize_t n = write(capture_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", options.capture.c_str(),
                             n < 0 ? std::strerror(errno) : "nothing written");
                close(capture_fd);
                capture_fd = -1;
                io_failed = true;
                break;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }

    void line_record(const lcd::sim::LineRecordSeen &r) override {
        if (trace)
            trace->line_record(r);
        if (r.frame_complete) {
            write_png();
            show(false);
        }
    }
    void setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t length) override {
        if (trace)
            trace->setting(offset, bytes, length);
        last_setting = lcd::sim::setting_text(bytes, length);
        if (settings.size() < LISTED_SETTINGS)
            settings.push_back(last_setting);
    }
    void finish(std::uint64_t offset) override {
        if (trace)
            trace->finish(offset);
    }
    void error(const lcd::sim::DecodeError &e) override {
        if (trace)
            trace->error(e);
    }
};

void print_error(const lcd::sim::DecodeError &e) {
    char text[128];
    lcd::sim::describe(e, text, sizeof text);
    std::fprintf(stderr, "lcdsim: offset %llu: %s\n", static_cast<unsigned long long>(e.offset),
                 text);
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
    if (!sim.settings.empty()) {
        // Every value in the order it came, so a setting the host sent shows even when the
        // driver's sign-off followed it.
        std::string list;
        for (const std::string &v : sim.settings)
            list += (list.empty() ? "" : ", ") + v;
        if (c.settings > sim.settings.size() + 1)
            list += ", ... " + std::to_string(c.settings - sim.settings.size() - 1) + " more";
        if (c.settings > sim.settings.size())
            list += ", " + sim.last_setting;
        std::printf(" (%s)", list.c_str());
    }
    std::printf("\nfinishes      %llu\n", static_cast<unsigned long long>(c.finishes));
    std::printf("errors        %llu\n", static_cast<unsigned long long>(c.errors));
    if (!sim.options.png.empty())
        std::printf("png           %s\n", sim.options.png.c_str());
    if (!sim.options.capture.empty())
        std::printf("capture       %s\n", sim.options.capture.c_str());
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

// Milliseconds from now until `deadline`, rounded up so that waking finds it passed.
int millis_until(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now)
        return 0;
    return static_cast<int>(std::chrono::ceil<Millis>(deadline - now).count());
}

// Reads `fd` until end of input, a stop condition, the window closed or a signal.
void run(Sim &sim, int fd, bool live) {
    std::optional<Clock::duration> idle_limit;
    if (sim.options.idle_exit)
        idle_limit = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(*sim.options.idle_exit));
    else if (live && !sim.options.window)
        idle_limit = std::chrono::seconds(30);
    auto last_byte = Clock::now();
    bool pause_seen = true; // nothing to catch up on before the first byte
    std::uint8_t buffer[65536];
    while (g_stop == 0) {
        if (sim.window_open && sim.window.closed())
            break;
        sim.show(false); // catches up within a tick on what the last read brought
        const auto now = Clock::now();
        const auto idle = now - last_byte;
        if (sim.frames_reached() && idle >= TRAILING_SETTING)
            break;
        if (idle_limit && idle >= *idle_limit) {
            if (!sim.options.quiet)
                std::fprintf(stderr, "lcdsim: nothing for %.1f s, stopping\n",
                             std::chrono::duration<double>(idle).count());
            break;
        }
        if (!pause_seen && idle >= PAUSE) {
            sim.paused();
            pause_seen = true;
        }
        // Sleep until the next thing due: the pause, the trailing setting's wait, the idle
        // limit, the window's next look at its events.
        auto deadline = now + PAUSE;
        if (!pause_seen)
            deadline = std::min(deadline, last_byte + PAUSE);
        if (sim.frames_reached())
            deadline = std::min(deadline, last_byte + TRAILING_SETTING);
        if (idle_limit)
            deadline = std::min(deadline, last_byte + *idle_limit);
        if (sim.window_open)
            deadline = std::min(deadline, now + WINDOW_TICK);
        pollfd pfd{sim.input_ended ? -1 : fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, millis_until(deadline, now));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "lcdsim: poll: %s\n", std::strerror(errno));
            sim.io_failed = true;
            break;
        }
        if (ready == 0)
            continue;
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
        if (n == 0) {
            sim.decoder.finish();
            sim.write_png_if_changed();
            if (!sim.window_open)
                break;
            // The window stays with the last panel until it is closed.
            sim.input_ended = true;
            sim.show_final();
            continue;
        }
        last_byte = Clock::now();
        pause_seen = false;
        sim.keep(buffer, static_cast<std::size_t>(n));
        sim.decoder.feed(buffer, static_cast<std::size_t>(n));
        sim.show(false);
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
                usage_error(arg + " needs a value");
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
        } else if (arg == "--capture") {
            o.capture = value();
        } else if (arg == "--scale") {
            if (!parse_number(value(), lcd::sim::MIN_SCALE, lcd::sim::MAX_SCALE, v) ||
                v != static_cast<unsigned>(v))
                usage_error("--scale takes a whole number from 1 to 8");
            o.scale = static_cast<unsigned>(v);
            o.scale_given = true;
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
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "--window") {
            o.window = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("unknown option " + arg);
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            usage_error("more than one input");
        }
    }
    if (o.pty == !o.input.empty())
        usage_error(o.pty ? "--pty takes no input" : "no input (a file, -, a device or --pty)");
    if (o.scale_given && o.png.empty() && !o.window)
        usage_error("--scale sizes the PNG or the window: give --png or --window too");
    if (!o.pty_file.empty() && !o.pty)
        usage_error("--pty-file goes with --pty");

    // Every output is checked before any input is read, so a mistake shows at once and once.
    std::string why;
    if (!o.png.empty() && !lcd::sim::can_write_panel_png(o.png, why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.png.c_str(), why.c_str());
        return 2;
    }
    if (o.trace)
        sim.trace.emplace(stdout);
    sim.decoder.set_observer(&sim);

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int fd = -1;
    int pty_slave = -1;
    bool live = false;
    std::string pty_path;
    if (o.pty) {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char *name = fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 ? ptsname(fd) : nullptr;
        if (name == nullptr) {
            std::fprintf(stderr, "lcdsim: cannot create a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 2;
        }
        pty_path = name;
        // Held open so the terminal survives the driver closing it and reopening it, and set
        // raw so the bytes arrive untranslated even before the driver sets the line up.
        pty_slave = open(pty_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pty_slave >= 0)
            make_raw(pty_slave);
        live = true;
        sim.name = pty_path;
    } else if (o.input == "-") {
        fd = STDIN_FILENO;
        sim.name = "stdin";
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
        sim.name = o.input;
    }
    // The capture is made once the input is open, and never over the input itself.
    if (!o.capture.empty()) {
        struct stat in {
        }, out{};
        if (fstat(fd, &in) == 0 && stat(o.capture.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
            in.st_ino == out.st_ino) {
            std::fprintf(stderr, "lcdsim: --capture %s is the input itself\n", o.capture.c_str());
            return 2;
        }
        sim.capture_fd = open(o.capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (sim.capture_fd < 0) {
            std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.capture.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    if (o.window) {
        if (!sim.window.open(o.scale, sim.title().c_str(), why)) {
            std::fprintf(stderr, "lcdsim: --window: %s\n", why.c_str());
            return 2;
        }
        sim.window_open = true;
        sim.show_final();
    }
    // The terminal's path is announced last, when lcdsim is ready for the bytes.
    if (o.pty) {
        if (!o.pty_file.empty()) {
            const std::string tmp = o.pty_file + ".tmp";
            FILE *f = std::fopen(tmp.c_str(), "w");
            if (f == nullptr || std::fprintf(f, "%s\n", pty_path.c_str()) < 0 ||
                std::fclose(f) != 0 || std::rename(tmp.c_str(), o.pty_file.c_str()) != 0) {
                std::fprintf(stderr, "lcdsim: cannot write %s\n", o.pty_file.c_str());
                return 2;
            }
        }
        std::printf("%s\n", pty_path.c_str());
        std::fflush(stdout);
    }

    run(sim, fd, live);
    sim.write_png_if_changed();
    report(sim);
    if (pty_slave >= 0)
        close(pty_slave);
    if (fd != STDIN_FILENO)
        close(fd);
    if (sim.capture_fd >= 0 && close(sim.capture_fd) != 0) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.capture.c_str(),
                     std::strerror(errno));
        sim.io_failed = true;
    }
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
