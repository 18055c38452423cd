// The real lcd_driver.dll under Wine's PE loader and KERNEL32 serial layer: the stand-in host
// checks the export boundary from inside, then drives a COM port that Wine maps to a
// pseudo-terminal; this side checks every byte that reached the terminal and the line
// settings Wine applied for the driver.
#include "protocol/protocol.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/reference_encoder.h"
#include "support/test_images.h"
#if LCD_TEST_WINDOW
#include "support/x_display.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace lcd {
namespace {

using test::Bytes;
using test::Finished;
using test::run_program;
namespace fs = std::filesystem;

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

#if LCD_TEST_WINDOW
// The whole of a text file; empty when it cannot be read. Only the window tests read files.
std::string file_text(const fs::path &path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}
#endif

// "Z:\path\to\file" for a Linux path, as Windows programs under Wine see it.
std::string windows_path(const fs::path &path) {
    std::string out = "Z:" + fs::absolute(path).string();
    for (char &c : out)
        c = c == '/' ? '\\' : c;
    return out;
}

void append(Bytes &to, const Bytes &bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// One frame as the driver sends it: the line records of the test image for `seed`, then the
// setting when one rides along.
Bytes frame(int quadrant, std::uint32_t seed, int setting = -1) {
    test::Image image = test::blank_image();
    test::fill_test_image(image.data(), quadrant, seed);
    return test::reference_frame(image, quadrant, setting);
}

// What the stand-in host must put on the line before the far end stops reading: the session
// (see run_session in the host), then `cycles` soak cycles (see run_soak).
Bytes expected_line(unsigned cycles) {
    const Bytes &init = test::INIT;
    const Bytes &shutdown = test::SIGN_OFF;
    Bytes line = init;
    append(line, frame(0, 0, 0x0E)); // first frame goes out even for quadrant 0
    /* seed 1: quadrant 0 again, skipped */
    append(line, frame(3, 2));
    append(line, frame(1, 3));
    append(line, frame(2, 4, 0x5A));
    append(line, frame(3, 6)); // the stack 4, 8 and 12 bytes off alignment
    append(line, frame(0, 7));
    append(line, frame(1, 8));
    append(line, shutdown); // FreeLibrary
    append(line, init);     // loaded again: the port opens again
    append(line, frame(0, 5));
    append(line, shutdown);
    for (unsigned c = 0; c < cycles; ++c) {
        append(line, init);
        for (int q = 0; q < 4; ++q)
            append(line, frame(q, test::soak_seed(c, q)));
        append(line, shutdown);
    }
    return line;
}

// The terminal as an earlier program may leave a COM port: XON/XOFF in both directions and
// RTS/CTS. With IXON left on the terminal side, one XOFF from the far end stops the line.
void leave_dirty(const test::Pty &pty) {
    termios tio = pty.settings();
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cflag |= CRTSCTS;
    tcsetattr(pty.master(), TCSANOW, &tio);
}

// Waits for the file `name` in `dir` (the host's signal), as long as the host runs.
bool wait_for_signal(const fs::path &dir, const char *name, const std::atomic<bool> &host_done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (!fs::exists(dir / name)) {
        if (host_done || std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void raise_signal(const fs::path &dir, const char *name) {
    std::ofstream(dir / name) << name << "\n";
}

// Reads `pty` until what arrived ends with `tail`, or a minute passes; returns how long that
// took, or -1.
long long read_until_tail(test::Pty &pty, const Bytes &tail, Bytes &line) {
    const auto start = std::chrono::steady_clock::now();
    const auto ends_with_tail = [&] {
        return line.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(),
                          line.end() - static_cast<std::ptrdiff_t>(tail.size()));
    };
    while (!ends_with_tail() && std::chrono::steady_clock::now() - start < std::chrono::minutes(1))
        append(line, pty.read(tail.size(), std::chrono::milliseconds(50)));
    if (!ends_with_tail())
        return -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// How much arrived and how it began, for a failure message.
std::string arrived(const Bytes &line) {
    std::string out = " (" + std::to_string(line.size()) + " bytes arrived:";
    char hex[4];
    for (std::size_t i = 0; i < line.size() && i < 12; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", line[i]);
        out += hex;
    }
    return out + ")";
}

// The far end of run_port_comes_back in the host, on the second COM port: no terminal behind
// its name at the set-up, one plugged in later, pulled out while the host is idle, a new one
// plugged in (the host, set up meanwhile with a port that is not there, then picks this one
// again), which then stops reading until a frame is cut and reads again. Each time the
// bytes the panel gets are checked; returns what failed, empty when nothing did.
std::vector<std::string> far_end_comes_back(const fs::path &link, const fs::path &dir,
                                            const std::atomic<bool> &host_done) {
    std::vector<std::string> failures;
    const Bytes &init = test::INIT;
    fs::remove(link);
    if (!wait_for_signal(dir, "set-up-failed", host_done))
        return {"the host did not set the absent port up"};

    auto pty = std::make_unique<test::Pty>();
    fs::create_symlink(pty->path(), link);
    Bytes line;
    Bytes tail = init;
    append(tail, frame(1, 300, 0x31));
    long long took = read_until_tail(*pty, tail, line);
    if (took < 0 || line != tail)
        failures.push_back("the port that appeared later did not get the initialisation and "
                           "the frame with the set-up's setting, alone and byte for byte" +
                           arrived(line));
    std::cout << "a port that appeared after the set-up drew after " << took << " ms\n";
    raise_signal(dir, "late-drawn");

    pty->close_master();
    pty.reset();
    fs::remove(link);
    raise_signal(dir, "unplugged");
    if (!wait_for_signal(dir, "drawn-while-away", host_done))
        return {"the host did not draw while the port was away"};
    pty = std::make_unique<test::Pty>();
    fs::create_symlink(pty->path(), link);
    raise_signal(dir, "replugged");
    line.clear();
    tail = {RESYNC_BYTE};
    append(tail, init);
    append(tail, frame(2, 320, 0x66));
    took = read_until_tail(*pty, tail, line);
    if (took < 0 || line != tail)
        failures.push_back("the port plugged in again and picked by the host did not get the "
                           "resync byte, the initialisation and the host's next frame, alone and "
                           "byte for byte" +
                           arrived(line));
    std::cout << "the port plugged in again drew after " << took << " ms\n";
    raise_signal(dir, "replug-drawn");

    // Nothing is read until a frame has been cut.
    const bool cut3 = [&] {
        while (!host_done && !fs::exists(dir / "cut1") && !fs::exists(dir / "cut3"))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return fs::exists(dir / "cut3");
    }();
    const int q = cut3 ? 3 : 1;
    tail = {RESYNC_BYTE};
    append(tail, init);
    append(tail, test::reference_frame(test::image_for_quadrant(q, test::escape_image()), q, 0x77));
    line.clear();
    if (read_until_tail(*pty, tail, line) < 0)
        failures.push_back("after the cut frame the panel did not get the resync byte, the "
                           "initialisation and that quadrant again with its setting" +
                           arrived(line));
    raise_signal(dir, "redrawn");
    return failures;
}

// The far end of run_two_threads in the host, on the second COM port: a terminal under its
// name, read about as fast as a real line takes bytes, pulled out half way (what is on its way
// is lost with it) and a new one plugged in. Every byte on both must belong to a whole record,
// and the panel draws on both; returns what failed, empty when nothing did.
std::vector<std::string> far_end_two_threads(const fs::path &link, const fs::path &dir,
                                             const std::atomic<bool> &host_done) {
    const auto collect_until = [&](test::Pty &pty, const char *signal) {
        Bytes line;
        while (!host_done && !fs::exists(dir / signal)) {
            append(line, pty.read(1, std::chrono::milliseconds(20)));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return line;
    };
    auto first = std::make_unique<test::Pty>();
    fs::remove(link);
    fs::create_symlink(first->path(), link);
    raise_signal(dir, "threads-ready");
    const Bytes pulled = collect_until(*first, "pull");
    first.reset();
    fs::remove(link);
    test::Pty second;
    fs::create_symlink(second.path(), link);
    raise_signal(dir, "plugged");
    Bytes plugged = collect_until(second, "threads-done");
    append(plugged, second.drain());

    const test::LineRead before = test::read_line(pulled, false);
    const test::LineRead after = test::read_line(plugged, true);
    std::cout << "two host threads: " << before.broken + after.broken << " broken records; "
              << before.frames << " whole frames before the port was pulled, " << after.frames
              << " after it was plugged back in\n";
    std::vector<std::string> failures;
    if (before.broken + after.broken != 0)
        failures.push_back("two host threads left broken records on the line");
    if (before.frames == 0 || after.frames == 0)
        failures.push_back("two host threads did not draw both before the port was pulled and "
                           "after it was plugged back in");
    return failures;
}

TEST(WineDriver, HostLoadsTheDllAndDrivesThePanel) {
    const fs::path win32 = env("LCD_WIN32_DIR");
    // run.sh hands over the DLL unpacked from the release ZIP; the build's own otherwise.
    const fs::path dll =
        env("LCD_DRIVER_DLL").empty() ? win32 / "lcd_driver.dll" : fs::path(env("LCD_DRIVER_DLL"));
    const fs::path host = win32 / "lcd_host_check.exe";
    const std::string port = env("LCD_WINE_PORT");
    const fs::path link = env("LCD_WINE_PORT_LINK");
    ASSERT_TRUE(fs::exists(dll) && fs::exists(host)) << "build the win32 preset first: " << win32;
    ASSERT_FALSE(port.empty() || link.empty()) << "run through tests/wine/run.sh";

    test::Pty pty;
    leave_dirty(pty);
    fs::remove(link);
    fs::create_symlink(pty.path(), link);
    const fs::path signal =
        fs::temp_directory_path() / ("lcd-wine-xoff-" + std::to_string(getpid()));
    fs::remove(signal);
    const std::optional<unsigned> soak = test::soak_cycles();
    ASSERT_TRUE(soak) << "LCD_SOAK_CYCLES=" << env("LCD_SOAK_CYCLES")
                      << " is not a positive number of cycles";
    const unsigned cycles = *soak;
    const Bytes expected = expected_line(cycles);

    // Generous: under user-mode emulation Wine starts slowly.
    const auto limit = std::chrono::seconds(600 + cycles);
    std::atomic<bool> host_done{false};
    // The far end: once the initialisation has arrived it sends XOFF and tells the host so;
    // once the session and the soak have arrived it stops reading for good, and fills the
    // line when the host asks (see run_stalled there).
    const fs::path fill = signal.string() + "-fill", full = signal.string() + "-full";
    fs::remove(fill);
    fs::remove(full);
    auto line = std::async(std::launch::async, [&] {
        Bytes bytes;
        bool xoff_sent = false;
        while (bytes.size() < expected.size() && !host_done) {
            append(bytes, pty.read(expected.size() - bytes.size(), std::chrono::milliseconds(200)));
            if (!xoff_sent && bytes.size() >= INIT_SEQUENCE.size()) {
                const std::uint8_t xoff = 0x13;
                xoff_sent = ::write(pty.master(), &xoff, 1) == 1;
                std::ofstream(signal) << "XOFF sent\n";
            }
        }
        while (!host_done && !fs::exists(fill))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pty.fill();
        std::ofstream(full) << "filled\n";
        return bytes;
    });
    // The second port, for the port that comes and goes.
    const std::string port2 = env("LCD_WINE_PORT2");
    const fs::path link2 = env("LCD_WINE_PORT2_LINK");
    ASSERT_FALSE(port2.empty() || link2.empty()) << "run through tests/wine/run.sh";
    const fs::path sync_dir =
        fs::temp_directory_path() / ("lcd-wine-comes-back-" + std::to_string(getpid()));
    fs::remove_all(sync_dir);
    fs::create_directories(sync_dir);
    auto comes_back = std::async(std::launch::async, [&] {
        std::vector<std::string> failures = far_end_comes_back(link2, sync_dir, host_done);
        for (std::string &failure : far_end_two_threads(link2, sync_dir, host_done))
            failures.push_back(std::move(failure));
        return failures;
    });

    const std::vector<std::string> argv = {"wine", host.string(),         windows_path(dll),
                                           port,   windows_path(signal),  std::to_string(cycles),
                                           port2,  windows_path(sync_dir)};
    Finished host_run = run_program(argv, limit, test::Capture::Stdout);
    if (host_run.output.empty()) {
        // Under emulation Wine's start now and then fails before any program code runs; the
        // stand-in host printed nothing and touched no port, so one more start is fair.
        std::cout << "Wine did not start the host (status " << host_run.status << "); again\n";
        host_run = run_program(argv, limit, test::Capture::Stdout);
    }
    host_done = true;
    const Bytes received = line.get();
    fs::remove(signal);
    fs::remove(fill);
    fs::remove(full);
    for (const std::string &failure : comes_back.get())
        ADD_FAILURE() << failure;
    fs::remove_all(sync_dir);
    fs::remove(link2);

    std::cout << host_run.output;
    EXPECT_EQ(host_run.status, 0);
    EXPECT_NE(host_run.output.find(" 0 failed"), std::string::npos);

    ASSERT_GE(received.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), received.begin()))
        << "the bytes on the line differ from the encoder's";
    std::cout << "line: " << expected.size() << " bytes compared with the encoder's\n";

    // The line settings Wine applied for the driver, read back from the terminal.
    const termios tio = pty.settings();
    if (env("LCD_WINE_EMULATED") == "1") {
        // qemu-i386 translates a 32-bit program's terminal settings for the 64-bit kernel and
        // knows no rate above 460,800: 3,000,000 arrives as B0. The rate is checked by the
        // POSIX link tests and wherever Wine runs without the emulator.
        std::cout << "note: Wine runs under qemu-i386 here; its termios translation drops rates"
                     " above 460,800, so the line rate is not checked in this run\n";
        EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B0));
    } else {
        EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B3000000));
    }
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u); // Wine's mapping of fOutX and fInX
}

// lcdtest.exe as a Windows user meets it, beside the DLL from the release ZIP: its help (within
// 80 columns, of Windows' own files and ports; /? too), a DLL that is not one (the system's
// text with nothing left unexpanded), the other build's DLL (the folder of the right one), and
// a COM port whose far end does not read or goes away mid-run (its own exit status).
TEST(WineDriver, LcdtestExeSpeaksOfWindowsAndSeesADeadLine) {
    const fs::path dll = env("LCD_DRIVER_DLL");
    const fs::path lcdtest =
        (dll.empty() ? fs::path(env("LCD_WIN32_DIR")) : dll.parent_path()) / "lcdtest.exe";
    const std::string port = env("LCD_WINE_PORT");
    const fs::path link = env("LCD_WINE_PORT_LINK");
    ASSERT_TRUE(fs::exists(lcdtest)) << "build the win32 preset first: " << lcdtest;
    ASSERT_FALSE(port.empty() || link.empty()) << "run through tests/wine/run.sh";
    const auto limit = std::chrono::seconds(600);
    auto without_cr = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    };

    const Finished help = run_program({"wine", lcdtest.string(), "--help"}, limit);
    const std::string text = without_cr(help.output);
    EXPECT_EQ(help.status, 0) << text;
    EXPECT_EQ(without_cr(run_program({"wine", lcdtest.string(), "/?"}, limit).output), text);
    EXPECT_EQ(text.rfind("usage: lcdtest.exe PORT", 0), 0u) << text;
    for (const char *own : {"lcd_driver.dll", "COM3"})
        EXPECT_NE(text.find(own), std::string::npos) << own << "\n" << text;
    for (const char *other : {"liblcd_driver.so", "/dev/tty"})
        EXPECT_EQ(text.find(other), std::string::npos) << other << "\n" << text;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);

    const fs::path broken = fs::temp_directory_path() / ("lcd-broken-" + std::to_string(getpid()));
    fs::create_directories(broken);
    std::ofstream(broken / "lcd_driver.dll") << "not a DLL at all, only text\n";
    const Finished bad = run_program(
        {"wine", lcdtest.string(), port, "--driver", windows_path(broken / "lcd_driver.dll")},
        limit);
    fs::remove_all(broken);
    EXPECT_EQ(bad.status, 2) << bad.output;
    const bool wide = env("LCD_WINE_ARCH") == "win64";
    EXPECT_NE(bad.output.find(wide ? "not a 64-bit Windows DLL" : "not a 32-bit Windows DLL"),
              std::string::npos)
        << bad.output;
    EXPECT_EQ(bad.output.find('%'), std::string::npos) << bad.output;
    const fs::path other = fs::path(env("LCD_OTHER_WIN_DIR")) / "lcd_driver.dll";
    if (fs::exists(other)) {
        const Finished wrong =
            run_program({"wine", lcdtest.string(), port, "--driver", windows_path(other)}, limit);
        EXPECT_EQ(wrong.status, 2) << wrong.output;
        EXPECT_NE(without_cr(wrong.output)
                      .find(wide ? "; take the one in x64\\\n"
                                 : "; take the one in the folder above x64\\\n"),
                  std::string::npos)
            << wrong.output;
    }

    // The far end of the port stays unread: once the terminal's buffer is full, a frame call
    // runs into the driver's write bound.
    test::Pty stalled;
    fs::remove(link);
    fs::create_symlink(stalled.path(), link);
    const Finished dead = run_program({"wine", lcdtest.string(), port}, limit);
    fs::remove(link);
    EXPECT_EQ(dead.status, 4) << dead.output;
    EXPECT_NE(without_cr(dead.output)
                  .find(": the line did not take the frame within a second: is the controller "
                        "connected and reading?\n"),
              std::string::npos)
        << dead.output;

    // The far end goes once the first frame is arriving: the terminal holds under two frames,
    // so a later write finds the line gone.
    test::Pty pulled;
    fs::create_symlink(pulled.path(), link);
    auto run = std::async(std::launch::async, [&] {
        return run_program({"wine", lcdtest.string(), port}, limit);
    });
    EXPECT_GE(pulled.read(lcd::INIT_SEQUENCE.size() + 1, limit).size(),
              lcd::INIT_SEQUENCE.size() + 1);
    pulled.close_master();
    const Finished gone = run.get();
    fs::remove(link);
    EXPECT_EQ(gone.status, 4) << gone.output;
    EXPECT_NE(gone.output.find(": the line went away: "), std::string::npos) << gone.output;
}

#if LCD_TEST_WINDOW
// Whatever way the virtual panel test ends: the script still waiting for its window to close
// is ended by closing the window, and the copy of the prefix goes.
class PanelCleanup {
  public:
    PanelCleanup(test::XServer &x, std::future<Finished> &panel, fs::path work)
        : x_(x), panel_(panel), work_(std::move(work)) {}
    PanelCleanup(const PanelCleanup &) = delete;
    PanelCleanup &operator=(const PanelCleanup &) = delete;
    ~PanelCleanup() {
        if (panel_.valid()) {
            std::string title;
            const unsigned long window = x_.wait_for_window(
                "lcdsim ", [](const std::string &) { return true; },
                std::chrono::milliseconds(20'000), title);
            if (window != 0)
                x_.close_window(window);
            panel_.wait();
        }
        std::error_code ec;
        fs::remove_all(work_, ec);
    }

  private:
    test::XServer &x_;
    std::future<Finished> &panel_;
    fs::path work_;
};
#endif

// The virtual panel as a user runs it: scripts/virtual-panel.sh maps COM7 of a throwaway
// prefix (a copy of the test prefix: no new Wine set-up) at lcdsim's window on an Xvfb display
// of the test's own; lcdtest.exe and the real DLL draw the test pattern on it in one Wine run.
// The window shows the PNG's pixels, it is the demo's panel, and closing the window ends the
// script with the report and COM7 as it was.
TEST(WineDriver, VirtualPanelShowsWhatTheDllDraws) {
#if !LCD_TEST_WINDOW
    GTEST_SKIP() << "lcdsim's window or libX11 is not built here";
#else
    // lcdtest.exe beside the DLL users download (run.sh unpacks the release ZIP), else the build's.
    const fs::path dll = env("LCD_DRIVER_DLL");
    const fs::path lcdtest =
        (dll.empty() ? fs::path(env("LCD_WIN32_DIR")) : dll.parent_path()) / "lcdtest.exe";
    ASSERT_TRUE(fs::exists(lcdtest)) << "build the win32 preset first: " << lcdtest;
    test::XServer x;
    std::string why;
    if (!x.start(why))
        GTEST_SKIP() << "no X server can run here: " << why;
    const fs::path work =
        fs::temp_directory_path() / ("lcd-virtual-panel-" + std::to_string(getpid()));
    const fs::path prefix = work / "prefix", png = work / "panel.png";
    const fs::path link = prefix / "dosdevices" / "com7";
    std::future<Finished> panel;
    const PanelCleanup cleanup(x, panel, work);
    fs::create_directories(work);
    ASSERT_EQ(run_program({"cp", "-a", "--reflink=auto", env("WINEPREFIX"), prefix.string()},
                          std::chrono::seconds(600))
                  .status,
              0);
    fs::remove(link);
    const std::string with_prefix = "WINEPREFIX=" + prefix.string();
    // By value: the script may outlive this scope's names when a check fails (see PanelCleanup).
    panel = std::async(std::launch::async, [with_prefix, display = x.display(), png] {
        return run_program({"env", with_prefix, "DISPLAY=" + display,
                            std::string(LCD_SOURCE_DIR) + "/scripts/virtual-panel.sh", "COM7", "--",
                            "--png", png.string()},
                           std::chrono::seconds(900));
    });
    // The script writes the registry with a Wine run of its own first: minutes under emulation.
    std::error_code ec;
    const auto mapped_by = std::chrono::steady_clock::now() + std::chrono::seconds(600);
    while (fs::read_symlink(link, ec).string().rfind("/dev/pts/", 0) != 0 &&
           std::chrono::steady_clock::now() < mapped_by &&
           panel.wait_for(std::chrono::milliseconds(50)) == std::future_status::timeout) {
    }
    const std::string pty = fs::read_symlink(link, ec).string();
    ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << "COM7 was not pointed at the panel";
    // Wine's own mapping, which its device manager lays out at every session start: the
    // script's Wine run has ended, so the prefix's registry file holds it.
    const auto registry = [&prefix] { return file_text(prefix / "system.reg"); };
    EXPECT_NE(registry().find("\"COM7\"=\"" + pty + "\""), std::string::npos)
        << "HKLM\\Software\\Wine\\Ports\\COM7 does not lead to " << pty;

    const Finished host =
        run_program({"env", with_prefix, "wine", lcdtest.string(), "COM7", "--setting", "42"},
                    std::chrono::seconds(900));
    run_program({"env", with_prefix, "wineserver", "-k"}, std::chrono::seconds(60));
    EXPECT_EQ(host.status, 0) << host.output;

    std::string title;
    const unsigned long window = x.wait_for_window(
        "lcdsim " + pty,
        [](const std::string &t) {
            return t.find(": 4 frames, 0 errors, last setting 42") != std::string::npos;
        },
        std::chrono::milliseconds(20'000), title);
    ASSERT_NE(window, 0u) << "last title: " << title;
    test::RgbImage drawn, shot;
    ASSERT_TRUE(test::read_png_rgb(png.string(), drawn, why)) << why;
    EXPECT_TRUE(x.shows(window, drawn, std::chrono::seconds(5), shot))
        << "the window does not show the PNG's pixels";
    ASSERT_TRUE(x.close_window(window));

    const Finished script = panel.get();
    EXPECT_EQ(script.status, 0) << script.output;
    EXPECT_NE(script.output.find("start your host under Wine and choose COM7"), std::string::npos)
        << script.output;
    EXPECT_NE(script.output.find("settings      3 (50 03 00, 42, 0A)"), std::string::npos)
        << script.output;
    EXPECT_FALSE(fs::is_symlink(link)) << "COM7 was not put back (unmapped)";
    EXPECT_EQ(registry().find("\"COM7\"="), std::string::npos) << "COM7's registry value stayed";
    EXPECT_NE(script.output.find("COM7 of " + prefix.string() + " is as it was"), std::string::npos)
        << script.output;
    const Finished same = run_program({LCDSIM_PATH, "--compare", png.string(),
                                       std::string(LCD_SOURCE_DIR) + "/docs/demo-panel.png"},
                                      std::chrono::seconds(60));
    EXPECT_EQ(same.status, 0) << same.output;
#endif
}

// The preview driver as a Windows user meets it, beside lcdsim.exe in the folder the release
// ZIP unpacks: lcdtest.exe loads lcd_preview.dll as the host does, draws the test pattern and
// ends at once, as a rule before the viewer the DLL started (lcdsim.exe) has read a byte. What it
// drew still reaches the viewer: its window, titled after the port, its PNG (the demo's panel) and
// its capture. A second run, a host loading the driver again, draws into that same window
// instead of opening another. Closing the window ends lcdsim.exe. Without lcdsim.exe, or with
// options it refuses, lcdtest.exe says why the preview cannot show, never "no such port".
TEST(WineDriver, PreviewDriverDrawsInLcdsimExesWindow) {
#if !LCD_TEST_WINDOW
    GTEST_SKIP() << "lcdsim's window or libX11 is not built here";
#else
    if (env("LCD_WINE_EMULATED") == "1")
        GTEST_SKIP() << "under qemu-i386 lcdsim.exe may take longer to start than the "
                        "preview driver's set-up waits for it (a second)";
    const fs::path dll = env("LCD_DRIVER_DLL");
    const fs::path folder = dll.empty() ? fs::path(env("LCD_WIN32_DIR")) : dll.parent_path();
    const fs::path preview = folder / "lcd_preview.dll", lcdtest = folder / "lcdtest.exe";
    ASSERT_TRUE(fs::exists(preview) && fs::exists(folder / "lcdsim.exe") && fs::exists(lcdtest))
        << "lcd_preview.dll, lcdsim.exe and lcdtest.exe belong together in " << folder;
    test::XServer x;
    std::string why;
    if (!x.start(why))
        GTEST_SKIP() << "no X server can run here: " << why;
    const fs::path work = fs::temp_directory_path() / ("lcd-preview-" + std::to_string(getpid()));
    fs::create_directories(work);
    const fs::path png = work / "preview.png", capture = work / "preview.bin",
                   output = work / "host.txt", alone = work / "alone";
    const std::string outputs =
        "--png " + windows_path(png) + " --capture " + windows_path(capture);

    // A session of its own, whose programs all see the test's display and have Wine's desktop.
    run_program({"wineserver", "-k"}, std::chrono::seconds(120));
    // lcdtest.exe and the preview in `from`, `options` for the viewer. Its output is read through
    // a pipe, as a script reads it, and ends with lcdtest.exe: the viewer holds none of its
    // handles. Its standard error goes to a file: Wine gives every program it starts that one.
    const auto host = [&](const fs::path &from, const std::string &options,
                          const std::vector<std::string> &more) {
        std::vector<std::string> command{"sh",
                                         "-c",
                                         "exec \"$@\" 2>\"$0\"",
                                         output.string(),
                                         "env",
                                         "DISPLAY=" + x.display(),
                                         "WINEDLLOVERRIDES=" + env("LCD_WINE_WINDOW_OVERRIDES"),
                                         "LCD_PREVIEW_OPTIONS=" + options,
                                         "wine",
                                         (from / "lcdtest.exe").string(),
                                         "COM9",
                                         "--driver",
                                         windows_path(from / "lcd_preview.dll")};
        command.insert(command.end(), more.begin(), more.end());
        Finished ran = run_program(command, std::chrono::seconds(120), test::Capture::Stdout);
        ran.output += file_text(output);
        EXPECT_NE(ran.output.find("Kestrivon 640x480 LCD Controller (preview)"), std::string::npos)
            << ran.output;
        EXPECT_EQ(ran.output.find("no such port"), std::string::npos) << ran.output;
        return ran;
    };
    // Without its viewer, or with options the viewer refuses, the preview says so.
    fs::create_directories(alone);
    for (const char *file : {"lcdtest.exe", "lcd_preview.dll"})
        fs::copy_file(folder / file, alone / file);
    const std::pair<fs::path, const char *> refused[] = {
        {alone, "its viewer, lcdsim.exe, is not beside "},
        {folder, "refused the options in LCD_PREVIEW_OPTIONS (--scale 20); see lcdsim.exe"}};
    for (const auto &[from, said] : refused) {
        const Finished ran = host(from, from == alone ? outputs : "--scale 20", {});
        EXPECT_EQ(ran.status, 3) << ran.output;
        EXPECT_NE(ran.output.find(said), std::string::npos) << ran.output;
    }
    for (const auto &more : {std::vector<std::string>{}, {"--setting", "42"}})
        EXPECT_EQ(host(folder, outputs, more).status, 0);

    std::string title;
    const unsigned long window = x.wait_for_window(
        "lcdsim COM9 (preview)",
        [](const std::string &t) {
            return t.find(": 8 frames, 0 errors, last setting 42") != std::string::npos;
        },
        std::chrono::milliseconds(60'000), title);
    if (window != 0) {
        test::RgbImage drawn, shot;
        EXPECT_TRUE(test::read_png_rgb(png.string(), drawn, why)) << why;
        EXPECT_TRUE(x.shows(window, drawn, std::chrono::seconds(5), shot))
            << "the window does not show the PNG's pixels";
        if (const char *keep = std::getenv("LCD_PREVIEW_SCREENSHOT")) {
            EXPECT_TRUE(test::write_png_rgb(keep, shot)) << keep;
        }
        EXPECT_TRUE(x.close_window(window));
    }
    // lcdsim.exe was the session's last program: the server ends once it has. Without a
    // window to close, the session is ended here, lcdsim.exe with it.
    const Finished ended =
        run_program({"wineserver", window != 0 ? "-w" : "-k"}, std::chrono::seconds(120));
    ASSERT_NE(window, 0u) << "no preview window showed both hosts' frames after they ended; last "
                             "title: "
                          << title;
    if (ended.status != 0)
        run_program({"wineserver", "-k"}, std::chrono::seconds(120));
    EXPECT_EQ(ended.status, 0) << "lcdsim.exe did not end when its window was closed";
    const Finished kept = run_program({LCDSIM_PATH, capture.string()}, std::chrono::seconds(60));
    EXPECT_EQ(kept.status, 0) << kept.output;
    EXPECT_NE(kept.output.find("settings      5 (50 03 00, 0A, 50 03 00, 42, 0A)"),
              std::string::npos)
        << kept.output;
    const Finished same = run_program({LCDSIM_PATH, "--compare", png.string(),
                                       std::string(LCD_SOURCE_DIR) + "/docs/demo-panel.png"},
                                      std::chrono::seconds(60));
    EXPECT_EQ(same.status, 0) << same.output;
    std::error_code ec;
    fs::remove_all(work, ec);
#endif
}

} // namespace
} // namespace lcd

namespace lcd {
namespace {

#ifdef LCDSIM_PATH // only the tools' test below reads reports
// Lines Wine's server writes when it dumps its state ("0x5850dc20:1: Clipboard ...").
std::size_t server_lines(const std::string &output, std::string &first) {
    std::size_t count = 0;
    std::istringstream lines(output);
    static const std::regex dump("^(0x)?[0-9a-f]{6,}:[0-9]+: ");
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, dump) && count++ == 0)
            first = line;
    return count;
}

// The report without its png line (the paths differ) and with Linux line ends.
std::string report_of(std::string output) {
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    std::istringstream lines(output);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("png ", 0) != 0)
            kept += line + "\n";
    return kept;
}
#endif

// lcdsim with a user's own Wine: lcdtest.exe draws through COMn into lcdsim --pty, started as
// a user starts it (its own server in the background, not the session's foreground one), and
// lcdsim ends first; no line of the server's reaches any output. Then lcdsim.exe reads what
// lcdsim captured from COMn, mapped to a terminal the test feeds: its report and PNG are
// Linux lcdsim's for the same capture.
TEST(WineDriver, LcdsimExeOnAComPortSeesWhatLcdsimSees) {
#ifndef LCDSIM_PATH
    GTEST_SKIP() << "the tools are not built here";
#else
    const fs::path dll = env("LCD_DRIVER_DLL"), win32 = env("LCD_WIN32_DIR");
    const fs::path lcdtest = (dll.empty() ? win32 : dll.parent_path()) / "lcdtest.exe";
    const fs::path lcdsim_exe = win32 / "lcdsim.exe";
    const std::string port = env("LCD_WINE_PORT");
    const fs::path link = env("LCD_WINE_PORT_LINK");
    ASSERT_TRUE(fs::exists(lcdtest) && fs::exists(lcdsim_exe)) << "build the win32 preset first";
    ASSERT_FALSE(port.empty() || link.empty()) << "run through tests/wine/run.sh";
    const fs::path work =
        fs::temp_directory_path() / ("lcd-lcdsim-exe-" + std::to_string(getpid()));
    fs::create_directories(work);
    const fs::path pty_file = work / "pty", capture = work / "capture.bin",
                   linux_png = work / "linux.png", exe_png = work / "exe.png";

    // The session's own server goes: the next `wine` starts one as a user's does.
    run_program({"wineserver", "-k"}, std::chrono::seconds(120));
    auto sim = std::async(std::launch::async, [&] {
        return run_program({LCDSIM_PATH, "--pty", "--pty-file", pty_file.string(), "--frames", "4",
                            "--capture", capture.string(), "--quiet"},
                           std::chrono::seconds(900));
    });
    std::string terminal;
    for (int i = 0; i < 600 && terminal.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream(pty_file) >> terminal;
    }
    ASSERT_FALSE(terminal.empty()) << "lcdsim --pty announced no terminal";
    fs::remove(link);
    fs::create_symlink(terminal, link);
    // Returns once Wine's server has gone too: its output is this pipe.
    const Finished host = run_program({"wine", lcdtest.string(), port}, std::chrono::seconds(900));
    EXPECT_EQ(host.status, 0) << host.output;
    ASSERT_EQ(sim.wait_for(std::chrono::seconds(0)), std::future_status::ready)
        << "lcdsim (4 frames) did not end before Wine's server";
    const Finished ended = sim.get();
    EXPECT_EQ(ended.status, 0) << ended.output;
    std::string first;
    EXPECT_EQ(server_lines(host.output + ended.output, first), 0u)
        << "Wine's server dumped its state when lcdsim ended, first: " << first;

    // lcdsim.exe on COMn, fed with the capture.
    test::Pty feed;
    feed.raw_terminal();
    fs::remove(link);
    fs::create_symlink(feed.path(), link);
    std::ifstream in(capture, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 40'000u) << "lcdsim captured too little";
    // Written as lcdsim.exe reads, until it has all or has ended.
    std::atomic<bool> exe_ended{false};
    auto writer = std::async(std::launch::async, [&] {
        std::size_t done = 0;
        while (done < bytes.size() && !exe_ended) {
            pollfd out{feed.master(), POLLOUT, 0};
            if (poll(&out, 1, 200) <= 0)
                continue;
            const ssize_t n = ::write(feed.master(), bytes.data() + done,
                                      std::min<std::size_t>(bytes.size() - done, 4096));
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    });
    // The report only: lcdsim.exe says on stderr that the line went idle, which ends it here.
    const Finished exe = run_program(
        {"wine", lcdsim_exe.string(), port, "--png", windows_path(exe_png), "--idle-exit", "3"},
        std::chrono::seconds(900), test::Capture::Stdout);
    exe_ended = true;
    EXPECT_EQ(writer.get(), bytes.size());
    const Finished linux_run = run_program(
        {LCDSIM_PATH, capture.string(), "--png", linux_png.string()}, std::chrono::seconds(60));
    EXPECT_EQ(exe.status, 0) << exe.output;
    EXPECT_EQ(linux_run.status, 0) << linux_run.output;
    EXPECT_EQ(report_of(exe.output), report_of(linux_run.output) + "") << exe.output;
    EXPECT_NE(linux_run.output.find("frames        4\n"), std::string::npos) << linux_run.output;
    const Finished same = run_program(
        {LCDSIM_PATH, "--compare", exe_png.string(), linux_png.string()}, std::chrono::seconds(60));
    EXPECT_EQ(same.status, 0) << same.output;
#if LCD_TEST_WINDOW
    test::RgbImage a, b;
    std::string why;
    ASSERT_TRUE(test::read_png_rgb(exe_png.string(), a, why)) << why;
    ASSERT_TRUE(test::read_png_rgb(linux_png.string(), b, why)) << why;
    EXPECT_TRUE(a == b) << "lcdsim.exe's PNG has other colours than lcdsim's";
#endif
    run_program({"wineserver", "-w"}, std::chrono::seconds(120));
    std::error_code ec;
    fs::remove_all(work, ec);
#endif
}

} // namespace
} // namespace lcd
