// lcdtest: checks a panel the way the host drives it. Loads the driver library at run time,
// sets up the named port through LCD_SetIOPropertys and sends a test pattern or a picture
// through LCD_SendToGfxMemory.
#include "driver/driver_api.h"
#include "driver_library.h"
#include "file_access.h"
#include "image_file.h"
#include "lcd_version.h"
#include "link/preview_viewer.h"
#include "link/serial_link.h"
#include "os_text.h"
#include "platform.h"
#include "port_check.h"
#include "raster.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace lcd::tool {
namespace {

// A frame call that lasts this long ran into the driver's write bound (WRITE_TIMEOUT_MS). A
// frame that goes through takes 67 ms of line time.
constexpr std::chrono::milliseconds DEAD_LINE{lcd::WRITE_TIMEOUT_MS * 3 / 4};
static_assert(lcd::WRITE_TIMEOUT_MS == 1000, "the messages below speak of a second");
constexpr const char DEAD_LINE_MESSAGE[] =
    "the line did not take the frame within a second: is the controller connected and "
    "reading?\n(The driver waits at most a second for the line. In a host it then drops that "
    "frame,\ntries the port again about once a second, and sends that quadrant again once the "
    "line\ntakes it.)";
constexpr const char GONE_LINE_HINT[] = "(Is the adapter plugged in? In a host the driver draws "
                                        "again as soon as the port is back.)";

using Duration = std::chrono::steady_clock::duration;

// A write the driver cut short without an OS error (0, or a timeout error from the frame call):
// at the write bound nothing read at the far end; well before it the line went (Wine's ports
// return a short write when the far end goes).
bool cut_without_os_error(unsigned long error) {
    return error == 0 || port_fault(error) == PortFault::TIMED_OUT;
}

// The system's words for an OS error the driver left behind.
std::string port_error_text(unsigned long error) {
    return system_error_text(error, "the port");
}

// Why a frame did not go out, from the thread's last error after the frame call and how long
// the call lasted.
std::string frame_problem(unsigned long error, Duration took) {
    if (!cut_without_os_error(error))
        return std::string("the line went away: ") + port_error_text(error) + "\n" + GONE_LINE_HINT;
    if (took >= DEAD_LINE)
        return DEAD_LINE_MESSAGE;
    return std::string("the line went away: the port took only part of the frame\n") +
           GONE_LINE_HINT;
}

// Why the preview driver `driver_path` could not show the panel, or empty for a fault that
// is no preview's.
std::string preview_problem(PortFault fault, const std::string &driver_path) {
    const std::string cannot =
        std::string("cannot show the preview: its viewer, ") + PREVIEW_VIEWER_FILE + ", ";
    if (fault == PortFault::VIEWER_MISSING)
        return cannot + "is not beside " + driver_path + "; copy the two together";
    if (fault == PortFault::NO_DESKTOP)
        return cannot + "finds no desktop to show its window on\n(a service, or a session " +
               "nobody is logged on to, has none; under Wine, set DISPLAY)";
    if (fault != PortFault::VIEWER_REFUSED)
        return {};
    const char *options = std::getenv(PREVIEW_OPTIONS_VARIABLE);
    if (options == nullptr || *options == '\0')
        return cannot + "ended at once without showing the panel";
    return cannot + "refused the options in " + PREVIEW_OPTIONS_VARIABLE + " (" + options +
           "); see " + PREVIEW_VIEWER_FILE + " --help, or clear them";
}

// Why LCD_SetIOPropertys did not set `port` up, from its result (1..4, nonzero) and the
// thread's last error read right after it; with the exit status to end on. What keeps a port
// from opening (missing, in use) counts only for a port that did not open.
std::pair<int, std::string> set_up_problem(const std::string &port, std::uint32_t status,
                                           unsigned long error, Duration took,
                                           const std::string &driver_path) {
    const PortFault fault = port_fault(error);
    const std::string reason = error != 0 ? port_error_text(error) : std::string();
    if (status == 4) {
        const std::string opened = "port " + port + " opened but took no bytes: ";
        if (!cut_without_os_error(error))
            return {4, opened + port_error_text(error)};
        if (took >= DEAD_LINE)
            return {4, opened + "nothing read them within a second: is the controller connected "
                                "and reading?"};
        return {4, opened + "the write was cut short\n" + GONE_LINE_HINT};
    }
    if (fault == PortFault::NOT_A_PORT)
        return {3, "cannot use port " + port + ": not a serial port"};
    const std::string cannot_open = "cannot open port " + port + ": ";
    switch (status) {
    case 1:
        if (const std::string preview = preview_problem(fault, driver_path); !preview.empty())
            return {3, preview};
        if (fault == PortFault::NO_SUCH_PORT)
            return {3, cannot_open + no_such_port_text()};
        if (fault == PortFault::IN_USE)
            return {3, cannot_open + "in use by another program\n" + PLATFORM.in_use_hint};
        if (fault == PortFault::NO_PERMISSION)
            return {3, cannot_open + "no permission to open it" + PLATFORM.permission_hint};
        return {3, cannot_open + (error != 0 ? reason : "the driver does not take that name")};
    case 2:
        return {3, "port " + port + " opened, but its line settings could not be read" +
                       (error != 0 ? ": " + reason : std::string())};
    case 3:
        if (error != 0)
            return {3, "port " + port + " refused the line settings: " + reason};
        return {3, "port " + port + " does not run at 3,000,000 baud 8N1 (it kept other settings)"};
    default:
        return {3, "port " + port + ": unexpected set-up result " + std::to_string(status)};
    }
}

// Errors go to stderr after what stdout holds so far, so a transcript of both is in order.
int fail(int status, const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "lcdtest: %s\n", message.c_str());
    return status;
}

[[noreturn]] void usage_error(const std::string &what) {
    std::exit(fail(1, usage_text(what, PLATFORM.command)));
}

bool parse_uint(const char *text, int base, unsigned long max, unsigned long &out) {
    char *end = nullptr;
    if (text[0] == '\0' || text[0] == '-' || text[0] == '+')
        return false;
    const unsigned long v = std::strtoul(text, &end, base);
    if (*end != '\0' || v > max)
        return false;
    out = v;
    return true;
}

} // namespace

int run_lcdtest(const std::vector<std::string> &argv) {
    const std::size_t argc = argv.size();
    std::string port, image_path, driver_path;
    long quadrant = -1;
    bool use_dither = false, threshold_given = false;
    unsigned long threshold_level = 128;
    bool has_setting = false;
    unsigned long setting = 0;

    for (std::size_t i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage_error(arg + " needs a value");
            return argv[++i].c_str();
        };
        unsigned long v = 0;
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "/?") {
            std::fputs(help_text().c_str(), stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("lcdtest " LCD_VERSION);
            return 0;
        } else if (arg == "--quadrant") {
            if (!parse_uint(value(), 10, 3, v))
                usage_error("--quadrant takes 0, 1, 2 or 3");
            quadrant = static_cast<long>(v);
        } else if (arg == "--dither") {
            use_dither = true;
        } else if (arg == "--threshold") {
            if (!parse_uint(value(), 10, 255, v) || v == 0)
                usage_error("--threshold takes a grey level from 1 to 255");
            threshold_level = v;
            threshold_given = true;
        } else if (arg == "--setting") {
            const char *text = value();
            if (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0)
                text += 2;
            if (!parse_uint(text, 16, 0xFF, v))
                usage_error("--setting takes one byte in hex, 00 to FF");
            has_setting = true;
            setting = v;
        } else if (arg == "--driver") {
            driver_path = value();
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("unknown option " + arg);
        } else if (port.empty()) {
            port = arg;
        } else if (image_path.empty()) {
            image_path = arg;
        } else {
            usage_error("too many arguments");
        }
    }
    if (port.empty())
        usage_error("no port given");
    // Options that would change nothing are mistakes worth saying so.
    if (image_path.empty() && (use_dither || threshold_given))
        usage_error(std::string(use_dither ? "--dither" : "--threshold") +
                    " is for a picture; the test pattern is drawn as it is");
    if (use_dither && threshold_given)
        usage_error("--dither and --threshold exclude each other (dithering uses no threshold)");

    // The picture first, so a bad file never touches the port.
    std::vector<std::pair<int, MonoImage>> frames;
    if (image_path.empty()) {
        if (quadrant >= 0)
            usage_error("--quadrant is for a 320x240 picture");
        const MonoImage pattern = test_pattern();
        for (int q = 0; q < 4; ++q)
            frames.emplace_back(q, cut_quadrant(pattern, q));
    } else {
        GreyImage grey;
        std::string why;
        if (!load_grey(image_path, grey, why))
            return fail(2, "cannot read " + image_path + ": " + why);
        if (grey.frames > 1)
            std::printf("%s is animated (%s frames): only its first frame is drawn\n",
                        image_path.c_str(), std::to_string(grey.frames).c_str());
        const MonoImage mono =
            use_dither ? dither(grey) : threshold(grey, static_cast<std::uint8_t>(threshold_level));
        if (mono.width == lcd::PANEL_WIDTH && mono.height == lcd::PANEL_HEIGHT) {
            if (quadrant >= 0)
                usage_error("--quadrant is for a 320x240 picture; a 640x480 one fills the panel");
            for (int q = 0; q < 4; ++q)
                frames.emplace_back(q, cut_quadrant(mono, q));
        } else if (mono.width == lcd::IMAGE_WIDTH && mono.height == lcd::IMAGE_HEIGHT) {
            frames.emplace_back(quadrant < 0 ? 0 : static_cast<int>(quadrant), mono);
        } else {
            return fail(2, image_path + " is " + std::to_string(mono.width) + "x" +
                               std::to_string(mono.height) +
                               "; the panel takes 640x480 or 320x240");
        }
    }
    for (auto &[q, image] : frames)
        set_markers(image, q);

    if (driver_path.empty()) {
        driver_path = own_directory() + PLATFORM.driver_file;
#if defined(LCD_INSTALLED_DRIVER_DIR)
        // Installed (bin/lcdtest), the library lives in the library directory, not beside it.
        if (!file_exists(driver_path))
            driver_path = own_directory() + LCD_INSTALLED_DRIVER_DIR + PLATFORM.driver_file;
#endif
    } else if (driver_path.find_first_of("/\\") == std::string::npos && file_exists(driver_path)) {
        // A bare name means the file in the current directory when there is one there (the
        // system's loaders would otherwise search only their own places).
        driver_path.insert(0, PLATFORM.current_folder);
    }
    DriverLibrary driver(driver_path);
    if (!driver.loaded())
        return fail(2, "cannot load the driver " + driver_path + ": " + driver.error());
    // The exports as driver_api.h declares them, reached through pointers as a host reaches them.
    auto *const get_info = driver.fn<decltype(DLL_GetInfo)>("DLL_GetInfo");
    auto *const set_io = driver.fn<decltype(LCD_SetIOPropertys)>("LCD_SetIOPropertys");
    auto *const send = driver.fn<decltype(LCD_SendToGfxMemory)>("LCD_SendToGfxMemory");
    if (get_info == nullptr || set_io == nullptr || send == nullptr)
        return fail(2, driver_path + " does not export the driver operations");
    DriverInfo info{};
    get_info(&info);
    std::printf("driver: %.*s (%s)\n", static_cast<int>(strnlen(info.name, sizeof info.name)),
                info.name, driver_path.c_str());

    if (is_own_terminal(port))
        return fail(3, port + " is the terminal lcdtest runs in, not the panel's port");
    const auto set_up_start = std::chrono::steady_clock::now();
    clear_last_os_error();
    const std::uint32_t status =
        set_io(driver_port_name(port).c_str(), 0, 0, 0, 0, 0, 0, 0, 0, has_setting ? 1u : 0u,
               static_cast<std::uint32_t>(setting), 0, 0, 0);
    // Read before anything else runs: the next system call may overwrite it.
    const unsigned long set_up_error = last_os_error();
    if (status != 0) {
        const auto [exit_status, message] =
            set_up_problem(port, status, set_up_error,
                           std::chrono::steady_clock::now() - set_up_start, driver_path);
        return fail(exit_status, message);
    }
    std::printf("port: %s opened\n", port.c_str());
    if (has_setting)
        std::printf("setting: 0x%02lX rides behind the first frame\n", setting);

    // The frame call returns nothing; the driver leaves 0 in the thread's last error when the
    // frame went out whole, or the reason it did not.
    for (const auto &[q, image] : frames) {
        const auto start = std::chrono::steady_clock::now();
        clear_last_os_error();
        send(image.pixels.data(), 0, 0, 0, 0, 0);
        const unsigned long error = last_os_error();
        if (error != 0)
            return fail(4, "quadrant " + std::to_string(q) + ": " +
                               frame_problem(error, std::chrono::steady_clock::now() - start));
        std::printf("handed to the driver: quadrant %d%s\n", q,
                    image_path.empty() ? " of the test pattern" : "");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace lcd::tool
