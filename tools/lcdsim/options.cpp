// lcdsim's command line and its help. The help's parts that name the inputs come from the
// platform's entry file (platform.h); every line stays within 80 columns.
#include "options.h"

#include "lcd_version.h"
#include "os_text.h"
#include "panel_look.h"
#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace lcd::sim {
namespace {

constexpr const char OUTPUT_OPTIONS[] = R"(
options:
  --window          show the panel live in a window, as the PNG draws it; its
                    title has the frame count, the errors and the last setting.
                    lcdsim then runs until the window is closed (the end of a
                    file or of stdin leaves the last panel on show), --frames
                    or --idle-exit stop it, or Ctrl-C; closing the window ends
                    it as the end of input does
  --name TEXT       call the input TEXT in the window's title (default: the
                    input as given)
  --png PATH        write the panel as a PNG after each complete frame (at its
                    line record for line 239, the 240th the driver sends), when
                    the input pauses for 200 ms with lines drawn since, and at
                    the end; written beside PATH and renamed over it, so a
                    viewer never sees half a picture
  --scale N         each panel pixel as N x N in the PNG and the window (1..8,
                    default 1)
  --trace           one line per command on stdout as it is decoded, with its
                    byte offset: settings and finishes with their bytes, line
                    records as line, half, byte column and escaped bytes, and
                    errors
  --capture FILE    keep the raw bytes received in FILE (lcdsim FILE replays
                    them)
  --vcd FILE        keep the bytes received in FILE as a logic analyzer would
                    see the line: a VCD of one wire (tx, idle high, 8N1 at
                    3000000 baud, timescale 10 ns), the bytes back to back,
                    for sigrok-cli -I vcd and PulseView
  --frames N        stop after N complete frames (then wait 100 ms for a
                    trailing setting); fewer by the end of the input or the
                    idle time is an error
)";

constexpr const char OTHER_OPTIONS[] =
    R"(  --quiet           no report on stdout (errors still go to stderr)
  -h, --help, -?    this text (also /? on Windows)
  --version         the version of lcdsim

Bad input (an unknown command, a record cut short, a line byte over 239, an
address past the panel, an escape followed by neither a command nor 0x0E,
bytes outside any command) is reported on stderr with its byte offset;
decoding resumes at the next command.

Exit status: 0 clean; 1 when the stream had errors or fewer frames than
--frames came; 2 for usage or I/O problems (a PNG or capture that cannot be
written); 3 when the window cannot open (no display or desktop for it).
)";

bool parse_number(const std::string &text, double min, double max, double &out) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !(v >= min && v <= max))
        return false;
    out = v;
    return true;
}

} // namespace

std::string help_text() {
    return std::string(USAGE_INPUTS) + OUTPUT_OPTIONS + USAGE_LINE_OPTIONS + OTHER_OPTIONS;
}

void usage_error(const std::string &what) {
    std::fprintf(stderr, "lcdsim: %s\n", lcd::tool::usage_text(what, COMMAND).c_str());
    std::exit(2);
}

Parsed parse_options(const std::vector<std::string> &args, Options &o) {
    bool scale_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size())
                usage_error(arg + " needs a value");
            return args[++i];
        };
        double v = 0;
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "/?") {
            std::fputs(help_text().c_str(), stdout);
            return Parsed::Done;
        } else if (arg == "--version") {
            std::puts("lcdsim " LCD_VERSION);
            return Parsed::Done;
        } else if (arg == "--compare") {
            if (args.size() != i + 3)
                usage_error("--compare takes two PNG files and nothing else");
            o.compare.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            return Parsed::Run;
        } else if (arg == "--pty") {
            o.pty = true;
        } else if (arg == "--png") {
            o.png = value();
        } else if (arg == "--pty-file") {
            o.pty_file = value();
        } else if (arg == "--capture") {
            o.capture = value();
        } else if (arg == "--vcd") {
            o.vcd = value();
        } else if (arg == "--scale") {
            if (!parse_number(value(), MIN_SCALE, MAX_SCALE, v) || v != static_cast<unsigned>(v))
                usage_error("--scale takes a whole number from 1 to 8");
            o.scale = static_cast<unsigned>(v);
            scale_given = true;
        } else if (arg == "--frames") {
            if (!parse_number(value(), 1, 1e9, v) ||
                v != static_cast<double>(static_cast<std::uint64_t>(v)))
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
        } else if (arg == "--name") {
            o.name = value();
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("unknown option " + arg);
        } else if (o.input.empty()) {
            o.input = arg;
        } else {
            usage_error("more than one input");
        }
    }
    if (o.pty == !o.input.empty())
        usage_error(o.pty ? "--pty takes no input" : "no input given");
    if (scale_given && o.png.empty() && !o.window)
        usage_error("--scale sizes the PNG or the window: give --png or --window too");
    if (!o.vcd.empty() && o.vcd == o.capture)
        usage_error("--vcd and --capture name the same file");
    if (!o.pty_file.empty() && !o.pty)
        usage_error("--pty-file goes with --pty");
    return Parsed::Run;
}

} // namespace lcd::sim
