// The real lcd_driver.dll under Wine's PE loader and KERNEL32 serial layer: the stand-in host
// checks the export boundary from inside, then drives a COM port that Wine maps to a
// pseudo-terminal; this side checks every byte that reached the terminal and the line
// settings Wine applied for the driver.
#include "protocol/protocol.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
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
    const Bytes init(INIT_SEQUENCE.begin(), INIT_SEQUENCE.end());
    const Bytes shutdown(SHUTDOWN_SEQUENCE.begin(), SHUTDOWN_SEQUENCE.end());
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
            append(line, frame(q, 100 + 4 * c + static_cast<std::uint32_t>(q)));
        append(line, shutdown);
    }
    return line;
}

// Load/unload cycles of the soak: a few in every run, many from scripts/soak.sh.
unsigned soak_cycles() {
    const std::string cycles = env("LCD_SOAK_CYCLES");
    return cycles.empty() ? 3 : static_cast<unsigned>(std::stoul(cycles));
}

// The terminal as an earlier program may leave a COM port: XON/XOFF in both directions and
// RTS/CTS. With IXON left on the terminal side, one XOFF from the far end stops the line.
void leave_dirty(const test::Pty &pty) {
    termios tio = pty.settings();
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cflag |= CRTSCTS;
    tcsetattr(pty.master(), TCSANOW, &tio);
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
    const unsigned cycles = soak_cycles();
    const Bytes expected = expected_line(cycles);

    // Generous: under user-mode emulation Wine starts slowly.
    const auto limit = std::chrono::seconds(600 + cycles);
    std::atomic<bool> host_done{false};
    // The far end: once the initialisation has arrived it sends XOFF and tells the host so;
    // once the session and the soak have arrived it stops reading for good.
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
        return bytes;
    });
    const std::vector<std::string> argv = {"wine", host.string(),        windows_path(dll),
                                           port,   windows_path(signal), std::to_string(cycles)};
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

} // namespace
} // namespace lcd
