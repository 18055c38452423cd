// lcdsim: the display controller, simulated. Reads the controller's byte stream from one of
// its inputs (input.h), keeps the 640x480 panel as the controller would, and follows it with
// its outputs: the window, the PNG, the trace, the capture and the report. The same on every
// platform; what differs lives in the inputs' and outputs' own files and platform.h.
#include "capture.h"
#include "panel_decoder.h"
#include "panel_look.h"
#include "panel_window.h"
#include "platform.h"
#include "png_panel.h"
#include "report.h"
#include "stream_trace.h"
#include "vcd_capture.h"

#include "link/preview_viewer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

namespace lcd::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
// The input has paused when nothing came for this long: the PNG and the window catch up.
constexpr Millis PAUSE{200};
// After the last frame asked for, a setting may still trail it.
constexpr Millis TRAILING_SETTING{100};
// The window follows the line at most this often (about 28 frames a second, the line's pace).
constexpr Millis WINDOW_TICK{35};
// A live input without --window or --idle-exit stops after this long without bytes.
constexpr std::chrono::seconds LIVE_IDLE_EXIT{30};

// The simulated controller's run: the decoder, and what follows its progress.
struct Session final : DecodeObserver {
    PanelDecoder decoder;
    Options options;
    std::optional<StreamTrace> trace;
    Report report;
    Capture capture;
    VcdCapture vcd;
    PanelWindow window;
    bool window_open = false;
    unsigned window_scale = 1; // options.scale, or less when that does not fit the screen
    std::string name;          // the input, for the window's title
    bool input_ended = false;
    std::uint64_t drawn_at_png = 0; // line records placed when the PNG was last written
    bool png_written = false;
    bool png_failed = false;
    std::uint64_t bytes_at_show = ~std::uint64_t{0}; // bytes decoded when the window was drawn
    Clock::time_point shown_at{};
    bool io_failed = false;

    void write_png() {
        if (options.png.empty() || png_failed)
            return;
        std::string why;
        if (!write_panel_png(decoder.panel(), options.scale, options.png, why)) {
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
        const Counters &c = decoder.counters();
        std::string t = "lcdsim " + name + ": " + std::to_string(c.frames) +
                        (c.frames == 1 ? " frame, " : " frames, ") + std::to_string(c.errors) +
                        (c.errors == 1 ? " error, " : " errors, ");
        // What the host asked for last: the driver's sign-off at its unload is not that.
        t += decoder.asked_setting_length() == 0
                 ? "no setting"
                 : "last setting " +
                       setting_text(decoder.asked_setting(), decoder.asked_setting_length());
        if (window_open && window_scale != options.scale)
            t += " (at scale " + std::to_string(window_scale) + ": " +
                 std::to_string(options.scale) + " does not fit the screen)";
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

    void line_record(const LineRecordSeen &r) override {
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
        report.setting(bytes, length);
    }
    void finish(std::uint64_t offset) override {
        if (trace)
            trace->finish(offset);
    }
    void error(const DecodeError &e) override {
        if (trace)
            trace->error(e);
    }
};

// Milliseconds from now until `deadline`, rounded up so that waking finds it passed.
Millis millis_until(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now)
        return Millis{0};
    return std::chrono::ceil<Millis>(deadline - now);
}

// Reads the input until its end, a stop condition, the window closed or a stop request.
void run(Session &s, Input &input) {
    std::optional<Clock::duration> idle_limit;
    if (s.options.idle_exit)
        idle_limit = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(*s.options.idle_exit));
    else if (input.live() && !s.options.window)
        idle_limit = LIVE_IDLE_EXIT;
    auto last_byte = Clock::now();
    bool pause_seen = true; // nothing to catch up on before the first byte
    static std::uint8_t buffer[65536];
    while (!g_stop) {
        if (s.window_open && s.window.closed())
            break;
        s.show(false); // catches up within a tick on what the last read brought
        const auto now = Clock::now();
        const auto idle = now - last_byte;
        if (s.frames_reached() && idle >= TRAILING_SETTING)
            break;
        if (idle_limit && idle >= *idle_limit) {
            if (!s.options.quiet)
                std::fprintf(stderr, "lcdsim: nothing for %.1f s, stopping\n",
                             std::chrono::duration<double>(idle).count());
            break;
        }
        if (!pause_seen && idle >= PAUSE) {
            s.paused();
            pause_seen = true;
        }
        // Wait until the next thing due: the pause, the trailing setting's wait, the idle
        // limit, the window's next look at its events.
        auto deadline = now + PAUSE;
        if (!pause_seen)
            deadline = std::min(deadline, last_byte + PAUSE);
        if (s.frames_reached())
            deadline = std::min(deadline, last_byte + TRAILING_SETTING);
        if (idle_limit)
            deadline = std::min(deadline, last_byte + *idle_limit);
        if (s.window_open)
            deadline = std::min(deadline, now + WINDOW_TICK);
        const Millis wait = millis_until(deadline, now);
        if (s.input_ended) {
            std::this_thread::sleep_for(wait);
            continue;
        }
        const ReadResult r = input.read(buffer, sizeof buffer, wait);
        if (r.status == ReadStatus::Nothing)
            continue;
        if (r.status == ReadStatus::Failed) {
            std::fprintf(stderr, "lcdsim: %s: %s\n", input.name().c_str(), input.why().c_str());
            s.io_failed = true;
            break;
        }
        if (r.status == ReadStatus::End) {
            s.decoder.finish();
            s.write_png_if_changed();
            if (!s.window_open)
                break;
            // The window stays with the last panel until it is closed.
            s.input_ended = true;
            s.show_final();
            continue;
        }
        last_byte = Clock::now();
        pause_seen = false;
        s.capture.keep(buffer, r.size);
        s.vcd.keep(buffer, r.size);
        s.decoder.feed(buffer, r.size);
        s.show(false);
    }
    s.decoder.finish();
}

int compare(const std::string &a, const std::string &b) {
    Panel pa{}, pb{};
    std::string why;
    for (const auto &[path, panel] : {std::pair{&a, &pa}, std::pair{&b, &pb}})
        if (!read_panel_png(*path, *panel, why)) {
            std::fprintf(stderr, "lcdsim: cannot read %s: %s\n", path->c_str(), why.c_str());
            return 2;
        }
    std::size_t differ = 0;
    for (std::size_t i = 0; i < pa.size(); ++i)
        differ += static_cast<std::size_t>(__builtin_popcount(pa[i] ^ pb[i]));
    if (differ == 0) {
        std::printf("lcdsim: %s and %s show the same panel\n", a.c_str(), b.c_str());
        return 0;
    }
    std::printf("lcdsim: %s and %s differ in %zu pixels\n", a.c_str(), b.c_str(), differ);
    return 1;
}

} // namespace

int run_lcdsim(const std::vector<std::string> &args) {
    // Large (the panel, the decoder's state): kept off the stack.
    static Session s;
    Options &o = s.options;
    if (parse_options(args, o) == Parsed::Done)
        return 0;
    if (!o.compare.empty())
        return compare(o.compare[0], o.compare[1]);

    // Every output is checked before any input is read, so a mistake shows at once and once.
    std::string why;
    if (!o.png.empty() && !can_write_panel_png(o.png, why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.png.c_str(), why.c_str());
        return 2;
    }
    if (o.trace)
        s.trace.emplace(stdout);
    s.decoder.set_observer(&s);
    catch_stop_requests();

    bool usage = false;
    const std::unique_ptr<Input> input = open_input(o, why, usage);
    if (!input) {
        if (usage)
            usage_error(why);
        std::fprintf(stderr, "lcdsim: %s\n", why.c_str());
        return 2;
    }
    s.name = o.name.empty() ? input->name() : o.name;
    // The capture is made once the input is open, and never over the input itself.
    if (!o.capture.empty() && !s.capture.open(o.capture, *input, why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.capture.c_str(), why.c_str());
        return 2;
    }
    if (!o.vcd.empty() && !s.vcd.open(o.vcd, *input, why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.vcd.c_str(), why.c_str());
        return 2;
    }
    if (o.window) {
        s.window_scale = o.scale;
        if (!s.window.open(s.window_scale, s.title().c_str(), why)) {
            std::fprintf(stderr, "lcdsim: --window: %s\n", why.c_str());
            return static_cast<int>(VIEWER_NO_WINDOW_STATUS);
        }
        s.window_open = true;
        s.show_final();
    }
    if (!input->announce()) {
        std::fprintf(stderr, "lcdsim: %s\n", input->why().c_str());
        return 2;
    }

    run(s, *input);
    s.write_png_if_changed();
    s.report.print(s.decoder, o.quiet, o.png, o.capture);
    if (!s.capture.close(why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.capture.c_str(), why.c_str());
        s.io_failed = true;
    }
    if (!o.vcd.empty() && !o.quiet)
        std::printf("vcd           %s\n", o.vcd.c_str());
    if (!s.vcd.close(why)) {
        std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", o.vcd.c_str(), why.c_str());
        s.io_failed = true;
    }
    if (s.io_failed || s.capture.failed() || s.vcd.failed())
        return 2;
    if (o.frames != 0 && s.decoder.counters().frames < o.frames) {
        std::fprintf(stderr, "lcdsim: %llu of the %llu frames asked for arrived\n",
                     static_cast<unsigned long long>(s.decoder.counters().frames),
                     static_cast<unsigned long long>(o.frames));
        return 1;
    }
    return s.decoder.counters().errors != 0 ? 1 : 0;
}

} // namespace lcd::sim
