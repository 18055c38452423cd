// lcdtest: checks a panel the way the host drives it. Loads the driver library at run time,
// sets up the named port through LCD_SetIOPropertys and sends a test pattern or a picture
// through LCD_SendToGfxMemory.
#include "driver/driver_api.h"
#include "image_file.h"
#include "lcd_version.h"
#include "link/serial_link.h"
#include "port_check.h"
#include "raster.h"
#include "utf8_win32.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

// The help names this platform's own files and ports.
#if defined(_WIN32)
#define LCDTEST_COMMAND "lcdtest.exe"
#define LCDTEST_DRIVER "lcd_driver.dll"
#define LCDTEST_PORT "PORT is a COM port:\nCOM3, COM12 or \\\\.\\COM12."
#define LCDTEST_IN_USE_HINT "(Windows lets one program at a time open a port)"
#define LCDTEST_PERMISSION_HINT ""
#define LCDTEST_EXAMPLES                                                                           \
    "  lcdtest.exe COM3                   the test pattern on that port's panel\n"                 \
    "  lcdtest.exe COM3 picture.png       a 640x480 picture\n"
#define LCDTEST_DRIVER_OPTION                                                                      \
    "  --driver PATH    the driver DLL (default: lcd_driver.dll in lcdtest.exe's\n"                \
    "                   folder); a bare file name is looked for in the current\n"                  \
    "                   folder first"
#else
#define LCDTEST_COMMAND "lcdtest"
#define LCDTEST_DRIVER "liblcd_driver.so"
#define LCDTEST_PORT                                                                               \
    "PORT is a serial device such as\n/dev/ttyUSB0, or the terminal lcdsim --pty prints."
#define LCDTEST_IN_USE_HINT "(it holds the port's lock)"
#define LCDTEST_PERMISSION_HINT                                                                    \
    "\n(On Debian, serial ports belong to the group 'dialout': sudo adduser $USER dialout,\n"      \
    "then log in again.)"
#define LCDTEST_EXAMPLES                                                                           \
    "  lcdtest /dev/ttyUSB0               the test pattern on that port's panel\n"                 \
    "  lcdtest /dev/ttyUSB0 picture.png   a 640x480 picture\n"                                     \
    "  lcdtest /dev/pts/3                 the panel lcdsim --pty simulates there\n"
#define LCDTEST_DRIVER_OPTION                                                                      \
    "  --driver PATH    the driver library (default: liblcd_driver.so next to\n"                   \
    "                   lcdtest, or for an installed lcdtest the library directory\n"              \
    "                   beside its own); a bare file name is looked for in the\n"                  \
    "                   current directory first"
#endif

// Every line within 80 columns, and short of them: a Windows console 80 wide starts a new
// line after a line that fills it.
constexpr const char USAGE[] = "usage: " LCDTEST_COMMAND R"( PORT [IMAGE] [options]

Loads the display driver, )" LCDTEST_DRIVER R"(, as the host application does,
sets up PORT and hands the driver a picture. )" LCDTEST_PORT R"(

When the port cannot be set up, lcdtest says why, in the system's words: no
such port (with the ports there are), in use by another program, not a serial
port, or settings the port refused. When the line does not take a frame
(nothing reads at the far end within a second, or the adapter went away),
lcdtest says so and stops.

Without IMAGE it hands over the built-in test pattern: a border round the
panel, each quadrant's number, checkerboards with cells of 1, 2, 4 and 8
pixels, and a dithered grey ramp.

IMAGE: PNG, BMP, PBM (P1 and P4), binary PGM/PPM (8-bit samples), JPEG, GIF
(its first frame) or TGA; a file cut short or broken is refused, and so is any
size but these two. A 640x480 picture is cut into its four quadrants and
handed over in the order 0, 1, 2, 3; a 320x240 picture goes to one quadrant
(--quadrant). Dark pixels light up. Colour and grey are reduced to one bit per
pixel by a threshold or by Floyd-Steinberg error diffusion (--dither).

Marker pixels: the driver reads the quadrant from pixels x=1..4 of row 0 of
each 320x240 image, so lcdtest overwrites those four pixels of every quadrant
image (markers 1..q lit for quadrant q, the rest off). They show on the panel:
in quadrant q's top-left corner, pixels 1..q of the top row are lit, the next
off.

Same quadrant twice: the driver skips an image for the quadrant it sent last.
Each lcdtest run loads the driver afresh, so every run draws its quadrants. A
host that keeps the driver loaded and sends the same quadrant twice in a row
sees the second image dropped, until an image for another quadrant goes
between.

Options:
  --quadrant N     quadrant for a 320x240 picture: 0 top-left (default),
                   1 top-right, 2 bottom-left, 3 bottom-right
  --dither         Floyd-Steinberg instead of a threshold (for a picture)
  --threshold N    grey level below which a pixel lights up (1..255, default
                   128; for a picture, not with --dither)
  --setting HEX    a setting byte (00..FF) that rides behind the first frame
)" LCDTEST_DRIVER_OPTION R"(
  -h, --help       this text
  --version        the version of lcdtest

Exit status:
  0  every image handed to the driver and taken by the line
  1  usage
  2  the picture or the driver could not be loaded
  3  the port could not be set up
  4  the port opened, but the line did not take the bytes or went away

Examples:
)" LCDTEST_EXAMPLES;

// The exports as driver_api.h declares them, reached through pointers as a host reaches them.
using GetInfoFn = decltype(&DLL_GetInfo);
using SetIoFn = decltype(&LCD_SetIOPropertys);
using SendFn = decltype(&LCD_SendToGfxMemory);

#if defined(_WIN32)
constexpr const char DRIVER_FILE[] = "lcd_driver.dll";
constexpr const char CURRENT_DIRECTORY[] = ".\\";
#else
constexpr const char DRIVER_FILE[] = "liblcd_driver.so";
constexpr const char CURRENT_DIRECTORY[] = "./";
#endif

// A frame call that lasts this long ran into the driver's write bound (WRITE_TIMEOUT_MS). A
// frame that goes through takes 67 ms of line time.
constexpr std::chrono::milliseconds DEAD_LINE{lcd::WRITE_TIMEOUT_MS * 3 / 4};
static_assert(lcd::WRITE_TIMEOUT_MS == 1000, "the messages below speak of a second");
constexpr const char DEAD_LINE_MESSAGE[] =
    "the line did not take the frame within a second: is the controller connected and "
    "reading?\n(The driver waits at most a second for the line. In a host it then drops that "
    "frame,\ntries the port again about once a second, and sends that quadrant again once the "
    "line\ntakes it.)";
constexpr const char GONE_LINE_HINT[] = "(Is the adapter plugged in? In a host the driver tries "
                                        "the port again about once a second.)";

using Duration = std::chrono::steady_clock::duration;

// A write the driver cut short without an OS error (0, or a timeout error from the frame call):
// at the write bound nothing read at the far end; well before it the line went (Wine's ports
// return a short write when the far end goes).
bool cut_without_os_error(unsigned long error) {
    return error == 0 || lcd::tool::port_fault(error) == lcd::tool::PortFault::TIMED_OUT;
}

// Why a frame did not go out, from the thread's last error after the frame call and how long
// the call lasted.
std::string frame_problem(unsigned long error, Duration took) {
    if (!cut_without_os_error(error))
        return std::string("the line went away: ") + lcd::tool::system_text(error) + "\n" +
               GONE_LINE_HINT;
    if (took >= DEAD_LINE)
        return DEAD_LINE_MESSAGE;
    return std::string("the line went away: the port took only part of the frame\n") +
           GONE_LINE_HINT;
}

// Why LCD_SetIOPropertys did not set `port` up, from its result (1..4, nonzero) and the
// thread's last error read right after it; with the exit status to end on. What keeps a port
// from opening (missing, in use) counts only for a port that did not open.
std::pair<int, std::string> set_up_problem(const std::string &port, std::uint32_t status,
                                           unsigned long error, Duration took) {
    using lcd::tool::PortFault;
    const PortFault fault = lcd::tool::port_fault(error);
    const std::string reason = error != 0 ? lcd::tool::system_text(error) : std::string();
    if (status == 4) {
        const std::string opened = "port " + port + " opened but took no bytes: ";
        if (!cut_without_os_error(error))
            return {4, opened + lcd::tool::system_text(error)};
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
        if (fault == PortFault::NO_SUCH_PORT)
            return {3, cannot_open + "no such port; " + lcd::tool::serial_ports_here()};
        if (fault == PortFault::IN_USE)
            return {3, cannot_open + "in use by another program\n" LCDTEST_IN_USE_HINT};
        if (fault == PortFault::NO_PERMISSION)
            return {3, cannot_open + "no permission to open it" LCDTEST_PERMISSION_HINT};
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
    std::exit(fail(1, what + "\n(see " LCDTEST_COMMAND " --help)"));
}

bool file_exists(const std::string &path) {
#if defined(_WIN32)
    return GetFileAttributesW(lcd::tool::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    return access(path.c_str(), F_OK) == 0;
#endif
}

// The port name as the driver takes it: on Windows, in the system's code page.
std::string driver_string(const std::string &utf8) {
#if defined(_WIN32)
    return lcd::tool::narrow(lcd::tool::widen(utf8), CP_ACP);
#else
    return utf8;
#endif
}

// The directory lcdtest runs from, with a trailing separator.
std::string own_directory() {
#if defined(_WIN32)
    wchar_t path[32768] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (n == 0 || n >= std::size(path))
        return {};
    const std::string s = lcd::tool::narrow(path);
#else
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    path[n] = '\0';
    const std::string s(path);
#endif
    const std::size_t slash = s.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

// The loaded driver library, unloaded when it goes out of scope (the driver then lets go of
// the port, as when the host unloads it).
class DriverLibrary {
  public:
    explicit DriverLibrary(const std::string &path) {
#if defined(_WIN32)
        handle_ = LoadLibraryW(lcd::tool::widen(path).c_str());
        if (handle_ == nullptr)
            error_ = lcd::tool::driver_load_problem(path, GetLastError(), "");
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            error_ = lcd::tool::driver_load_problem(path, 0, dlerror());
#endif
    }
    ~DriverLibrary() {
#if defined(_WIN32)
        if (handle_ != nullptr)
            FreeLibrary(handle_);
#else
        if (handle_ != nullptr)
            dlclose(handle_);
#endif
    }
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;

    bool loaded() const {
        return handle_ != nullptr;
    }
    const std::string &error() const {
        return error_;
    }

    template <class Fn> bool get(const char *name, Fn &fn) const {
#if defined(_WIN32)
        const FARPROC address = GetProcAddress(handle_, name);
#else
        void *const address = dlsym(handle_, name);
#endif
        if (address == nullptr)
            return false;
        static_assert(sizeof fn == sizeof address);
        std::memcpy(&fn, &address, sizeof fn);
        return true;
    }

  private:
#if defined(_WIN32)
    HMODULE handle_ = nullptr;
#else
    void *handle_ = nullptr;
#endif
    std::string error_;
};

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

int run(const std::vector<std::string> &argv) {
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
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
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
    using lcd::tool::MonoImage;
    std::vector<std::pair<int, MonoImage>> frames;
    if (image_path.empty()) {
        if (quadrant >= 0)
            usage_error("--quadrant is for a 320x240 picture");
        const MonoImage pattern = lcd::tool::test_pattern();
        for (int q = 0; q < 4; ++q)
            frames.emplace_back(q, lcd::tool::cut_quadrant(pattern, q));
    } else {
        lcd::tool::GreyImage grey;
        std::string why;
        if (!lcd::tool::load_grey(image_path, grey, why))
            return fail(2, "cannot read " + image_path + ": " + why);
        if (grey.frames > 1)
            std::printf("%s is animated (%s frames): only its first frame is drawn\n",
                        image_path.c_str(), std::to_string(grey.frames).c_str());
        const MonoImage mono =
            use_dither ? lcd::tool::dither(grey)
                       : lcd::tool::threshold(grey, static_cast<std::uint8_t>(threshold_level));
        if (mono.width == lcd::PANEL_WIDTH && mono.height == lcd::PANEL_HEIGHT) {
            if (quadrant >= 0)
                usage_error("--quadrant is for a 320x240 picture; a 640x480 one fills the panel");
            for (int q = 0; q < 4; ++q)
                frames.emplace_back(q, lcd::tool::cut_quadrant(mono, q));
        } else if (mono.width == lcd::IMAGE_WIDTH && mono.height == lcd::IMAGE_HEIGHT) {
            frames.emplace_back(quadrant < 0 ? 0 : static_cast<int>(quadrant), mono);
        } else {
            return fail(2, image_path + " is " + std::to_string(mono.width) + "x" +
                               std::to_string(mono.height) +
                               "; the panel takes 640x480 or 320x240");
        }
    }
    for (auto &[q, image] : frames)
        lcd::tool::set_markers(image, q);

    if (driver_path.empty()) {
        driver_path = own_directory() + DRIVER_FILE;
#if defined(LCD_INSTALLED_DRIVER_DIR)
        // Installed (bin/lcdtest), the library lives in the library directory, not beside it.
        if (!file_exists(driver_path))
            driver_path = own_directory() + LCD_INSTALLED_DRIVER_DIR + DRIVER_FILE;
#endif
    } else if (driver_path.find_first_of("/\\") == std::string::npos && file_exists(driver_path)) {
        // A bare name means the file in the current directory when there is one there (the
        // system's loaders would otherwise search only their own places).
        driver_path.insert(0, CURRENT_DIRECTORY);
    }
    DriverLibrary driver(driver_path);
    if (!driver.loaded())
        return fail(2, "cannot load the driver " + driver_path + ": " + driver.error());
    GetInfoFn get_info = nullptr;
    SetIoFn set_io = nullptr;
    SendFn send = nullptr;
    if (!driver.get("DLL_GetInfo", get_info) || !driver.get("LCD_SetIOPropertys", set_io) ||
        !driver.get("LCD_SendToGfxMemory", send))
        return fail(2, driver_path + " does not export the driver operations");
    DriverInfo info{};
    get_info(&info);
    std::printf("driver: %.*s (%s)\n", static_cast<int>(strnlen(info.name, sizeof info.name)),
                info.name, driver_path.c_str());

    if (lcd::tool::is_own_terminal(port))
        return fail(3, port + " is the terminal lcdtest runs in, not the panel's port");
    const auto set_up_start = std::chrono::steady_clock::now();
    lcd::tool::clear_last_os_error();
    const std::uint32_t status =
        set_io(driver_string(port).c_str(), 0, 0, 0, 0, 0, 0, 0, 0, has_setting ? 1u : 0u,
               static_cast<std::uint32_t>(setting), 0, 0, 0);
    // Read before anything else runs: the next system call may overwrite it.
    const unsigned long set_up_error = lcd::tool::last_os_error();
    if (status != 0) {
        const auto [exit_status, message] = set_up_problem(
            port, status, set_up_error, std::chrono::steady_clock::now() - set_up_start);
        return fail(exit_status, message);
    }
    std::printf("port: %s opened\n", port.c_str());
    if (has_setting)
        std::printf("setting: 0x%02lX rides behind the first frame\n", setting);

    // The frame call returns nothing; the driver leaves 0 in the thread's last error when the
    // frame went out whole, or the reason it did not.
    for (const auto &[q, image] : frames) {
        const auto start = std::chrono::steady_clock::now();
        lcd::tool::clear_last_os_error();
        send(image.pixels.data(), 0, 0, 0, 0, 0);
        const unsigned long error = lcd::tool::last_os_error();
        if (error != 0)
            return fail(4, "quadrant " + std::to_string(q) + ": " +
                               frame_problem(error, std::chrono::steady_clock::now() - start));
        std::printf("handed to the driver: quadrant %d%s\n", q,
                    image_path.empty() ? " of the test pattern" : "");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

#if defined(_WIN32)
// The command line as UTF-16, so any file name Windows allows arrives whole (-municode).
int wmain(int argc, wchar_t **wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(lcd::tool::narrow(wargv[i]));
    lcd::tool::use_utf8_console();
    return run(args);
}
#else
int main(int argc, char **argv) {
    return run(std::vector<std::string>(argv, argv + argc));
}
#endif
