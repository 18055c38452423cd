// The built driver library, loaded by name and called through function pointers exactly as a
// host does, with the host's argument lists.
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lcd::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(DriverApi, ExportsEveryOperation) {
    DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    for (const Export &e : EXPORTS)
        EXPECT_NE(driver.symbol(e.name), nullptr) << e.name;
}

TEST(DriverApi, InformationRecordAndFixedAnswers) {
    DriverLibrary driver;
    constexpr std::size_t RECORD = sizeof(DriverInfo);
    std::uint8_t area[RECORD + 16];
    std::memset(area, 0xFF, sizeof area);
    auto *const record = reinterpret_cast<DriverInfo *>(area + 8);
    EXPECT_EQ(driver.fn<exports::GetInfo>("DLL_GetInfo")(record), record);

    Bytes expected(RECORD, 0);
    std::memcpy(expected.data(), DRIVER_NAME, sizeof DRIVER_NAME - 1);
    std::memcpy(expected.data() + sizeof DriverInfo::name, DRIVER_DESCRIPTOR,
                sizeof DRIVER_DESCRIPTOR);
    EXPECT_EQ(Bytes(area + 8, area + 8 + RECORD), expected);
    // What every host reads, spelled out once here: the constants above are the driver's own.
    EXPECT_STREQ(reinterpret_cast<const char *>(area + 8), "Kestrivon 640x480 LCD Controller");
    EXPECT_EQ(Bytes(area + 8 + sizeof DriverInfo::name, area + 8 + RECORD),
              (Bytes{1, 0, 0, 1, 0, 8, 8, 8}));
    EXPECT_EQ(Bytes(area, area + 8), Bytes(8, 0xFF));
    EXPECT_EQ(Bytes(area + 8 + RECORD, area + 16 + RECORD), Bytes(8, 0xFF));
    EXPECT_EQ(driver.fn<exports::GetInfo>("DLL_GetInfo")(nullptr), nullptr);

    const auto get_cgram_char = driver.fn<exports::GetCgramChar>("LCD_GetCGRAMChar");
    EXPECT_EQ(get_cgram_char(5), 5);
    EXPECT_EQ(get_cgram_char(0x1234), 0x34);
    EXPECT_EQ(driver.fn<exports::IsReadyToReceive>("LCD_IsReadyToReceive")(), 1);
}

// One load of the library, as one host session: set-up, frames, settings, bad arguments.
TEST(DriverApi, HostSessionOverATerminal) {
    DriverLibrary driver;
    const auto set_io = driver.fn<exports::SetIoPropertys>("LCD_SetIOPropertys");
    const auto send = driver.fn<exports::SendToGfxMemory>("LCD_SendToGfxMemory");
    Pty pty;

    // Before any port: frames and null pointers change nothing, answers stay the same. The
    // thread's last error says why: no port (ENODEV), the OS error of the step of the set-up
    // that failed, then that error kept while no port is held; 0 for a frame skipped.
    const Image q0 = image_for_quadrant(0);
    EXPECT_EQ(error_after([&] { send(q0.data(), 0, 0, 0, 0, 0); }), ENODEV);
    EXPECT_EQ(error_after([&] { send(nullptr, 0, 0, 0, 0, 0); }), 0);
    struct SetUp {
        const char *port;
        u32 result;
        int error;
    };
    for (const SetUp c : {SetUp{nullptr, 1, 0}, SetUp{"/dev/null", 2, ENOTTY},
                          SetUp{"/dev/lcd-driver-no-such-port", 1, ENOENT}}) {
        u32 result = 0;
        const int error =
            error_after([&] { result = set_io(c.port, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0, 0); });
        EXPECT_EQ(result, c.result) << (c.port ? c.port : "(null)");
        EXPECT_EQ(error, c.error) << (c.port ? c.port : "(null)");
    }
    EXPECT_EQ(error_after([&] { send(q0.data(), 0, 0, 0, 0, 0); }), ENOENT);
    EXPECT_EQ(driver.fn<exports::IsReadyToReceive>("LCD_IsReadyToReceive")(), 1);
    driver.fn<exports::NoArgs>("LCD_Init")();
    driver.fn<exports::NoArgs>("LCD_CleanUp")();

    Bytes line = pty.during(INIT.size(), [&] {
        EXPECT_EQ(set_io(pty.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0E, 0, 0, 0), 0u);
    });
    EXPECT_EQ(line, INIT);

    // The frame handed over before the port came up was not used up: quadrant 0 still goes.
    const Bytes frame = reference_frame(q0, 0, 0x0E);
    line = pty.during(frame.size(), [&] { send(q0.data(), 0, 0, 0, 0, 0); });
    EXPECT_EQ(line, frame);
    line =
        pty.during(0, [&] { EXPECT_EQ(error_after([&] { send(q0.data(), 0, 0, 0, 0, 0); }), 0); });
    EXPECT_TRUE(line.empty());

    // Nobody reads any more: a frame is cut at the write bound (ETIMEDOUT, no OS error), and
    // the port it lost stays away for the same reason.
    const Image escapes[2] = {image_for_quadrant(1, escape_image()),
                              image_for_quadrant(2, escape_image())};
    int error = 0;
    for (int i = 0; i < 8 && error == 0; ++i)
        error = error_after([&] { send(escapes[i % 2].data(), 0, 0, 0, 0, 0); });
    EXPECT_EQ(error, ETIMEDOUT);
    EXPECT_EQ(error_after([&] { send(q0.data(), 0, 0, 0, 0, 0); }), ETIMEDOUT);
}

// Unloading lets go of the port with the controller's sign-off, so a host that loads the
// library again can open the same port. A forked child that ends unloads its copy of the
// library too, but the port is the parent's: no sign-off, and the parent keeps its lock.
TEST(DriverApi, UnloadReleasesThePort) {
    Pty pty;
    const auto locked = [&] {
        const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool refused = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            close(fd);
        return refused;
    };
    for (int load = 0; load < 2; ++load) {
        auto driver = std::make_unique<DriverLibrary>();
        Bytes line = pty.during(INIT.size(), [&] {
            EXPECT_EQ(driver->set_io(pty.path().c_str()), 0u) << "load " << load;
        });
        EXPECT_EQ(line, INIT);
        if (load == 0) {
            // No other thread runs while the child is made: a child of a threaded process may
            // find a lock held for good. The child unloads its copy of the library and leaves
            // without the process's exit handlers, which belong to the parent.
            const pid_t child = fork();
            if (child == 0) {
                driver.reset();
                _exit(0);
            }
            int status = -1;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
            line = pty.drain();
            EXPECT_TRUE(line.empty()) << "the child signed off on the parent's port";
            EXPECT_TRUE(locked()) << "the child let go of the parent's lock";
        }
        line = pty.during(SIGN_OFF.size(), [&] { driver.reset(); });
        EXPECT_EQ(line, SIGN_OFF) << "load " << load;
        EXPECT_FALSE(locked()) << "load " << load;
    }
}

// A far end that stopped reading, the port held and its output full: the unload's sign-off
// waits a few milliseconds at most (on Windows it runs under the loader lock), and nothing of
// it reaches the line. After a stream that was cut, nothing at all is written.
TEST(DriverApi, UnloadOnAStalledLineReturnsAtOnce) {
    Pty pty;
    for (const bool cut : {false, true}) {
        auto driver = std::make_unique<DriverLibrary>();
        EXPECT_EQ(pty.during(INIT.size(), [&] { driver->set_io(pty.path().c_str()); }), INIT);
        pty.fill();
        if (cut) {
            driver->send(image_for_quadrant(1).data()); // cut at the write bound
            pty.drain();
        }
        const auto start = Clock::now();
        driver.reset();
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        EXPECT_LT(took.count(), 100) << (cut ? "after a cut stream" : "the port held");
        const Bytes after = pty.drain();
        EXPECT_TRUE(std::all_of(after.begin(), after.end(),
                                [](std::uint8_t b) { return b == Pty::FILL_BYTE; }))
            << (cut ? "after a cut stream" : "the port held") << ": the unload wrote "
            << after.size() << " bytes";
        std::cout << "the unload on a stalled line, "
                  << (cut ? "after a cut stream" : "the port held") << ", returned after "
                  << took.count() << " ms\n";
    }
}

// Two host threads, as a host may run them: a timer thread draws while the UI thread draws
// too, sets the port up again and has the adapter pulled out and plugged back in under the
// same name. The calls take turns: every byte on both terminals belongs to a whole record,
// and the panel draws again on the second.
TEST(DriverApi, TwoHostThreadsTakeTurns) {
    auto driver = std::make_unique<DriverLibrary>();
    ASSERT_TRUE(driver->loaded()) << driver->error();
    const PortName name;
    auto first = std::make_unique<Pty>();
    name.point_at(*first);
    // The far end reads about as fast as a real line takes bytes (a terminal's worth every
    // 2 ms), so the frames' writes wait for it, as they do on a port. What is on its way when
    // the adapter is pulled out is lost with it.
    const auto collect = [](Pty &pty, const std::atomic<bool> &reading) {
        Bytes line;
        while (reading) {
            append(line, pty.read(1, milliseconds(20)));
            std::this_thread::sleep_for(milliseconds(2));
        }
        return line;
    };
    std::atomic<bool> reading_first{true}, reading_second{true};
    auto on_first =
        std::async(std::launch::async, collect, std::ref(*first), std::cref(reading_first));

    // Calls from PULL_AT on are paced, so that they span the driver's retry interval.
    constexpr int CALLS = 60, PULL_AT = 30;
    const auto pace = [](int i) {
        if (i >= PULL_AT)
            std::this_thread::sleep_for(milliseconds(50));
    };
    const Image images[4] = {random_bits_image(1, 0), random_bits_image(2, 1),
                             random_bits_image(3, 2), random_bits_image(4, 3)};
    std::thread timer([&] {
        for (int i = 0; i < CALLS; ++i) {
            driver->send(images[i % 2].data());
            pace(i);
        }
    });
    Bytes pulled;
    Pty second;
    std::future<Bytes> on_second;
    for (int i = 0; i < CALLS; ++i) {
        if (i == PULL_AT) {
            reading_first = false;
            pulled = on_first.get();
            first->close_master();
            name.remove();
            name.point_at(second);
            on_second = std::async(std::launch::async, collect, std::ref(second),
                                   std::cref(reading_second));
        }
        driver->set_io(name.path().c_str(), 1, 0x20u + static_cast<u32>(i % 16));
        driver->send(images[2 + i % 2].data());
        pace(i);
    }
    timer.join();
    driver.reset();
    reading_second = false;
    Bytes plugged = on_second.get();
    append(plugged, second.drain());

    const LineRead before = read_line(pulled, false), after = read_line(plugged, true);
    std::cout << "two host threads: " << before.broken + after.broken << " broken records; "
              << before.frames << " whole frames before the port was pulled, " << after.frames
              << " after it was plugged back in\n";
    EXPECT_EQ(before.broken, 0u);
    EXPECT_EQ(after.broken, 0u);
    EXPECT_GT(before.frames, 0u);
    EXPECT_GT(after.frames, 0u);
    EXPECT_TRUE(plugged.size() >= SIGN_OFF.size() &&
                std::equal(SIGN_OFF.rbegin(), SIGN_OFF.rend(), plugged.rbegin()));
}

// The process's open descriptors, the fewest of a few looks 5 ms apart: a descriptor the
// driver leaked stays, while one the sanitizers' runtime holds for a moment (a pipe, /dev/null)
// is gone by the next look.
std::size_t open_descriptors() {
    std::size_t fewest = SIZE_MAX;
    for (int look = 0; look < 10; ++look) {
        const auto fds = std::filesystem::directory_iterator("/proc/self/fd");
        fewest = std::min(fewest, static_cast<std::size_t>(std::distance(begin(fds), end(fds))));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return fewest;
}

// Many loads, each with the set-up, four frames and the unload: every byte arrives as the
// encoder makes it, and the process's descriptors do not grow with the cycles.
TEST(DriverApi, SoakOfLoadsAndFrames) {
    const std::optional<unsigned> soak = soak_cycles();
    ASSERT_TRUE(soak) << "LCD_SOAK_CYCLES=" << std::getenv("LCD_SOAK_CYCLES")
                      << " is not a positive number of cycles";
    const unsigned cycles = *soak;
    Bytes expected;
    for (unsigned c = 0; c < cycles; ++c) {
        expected.insert(expected.end(), INIT.begin(), INIT.end());
        for (int q = 0; q < 4; ++q) {
            Image image = blank_image();
            fill_test_image(image.data(), q, soak_seed(c, q));
            const Bytes frame = reference_frame(image, q);
            expected.insert(expected.end(), frame.begin(), frame.end());
        }
        expected.insert(expected.end(), SIGN_OFF.begin(), SIGN_OFF.end());
    }
    Pty pty;
    const auto start = std::chrono::steady_clock::now();
    auto line = std::async(std::launch::async, [&] {
        return pty.read(expected.size(), Pty::DEADLINE + std::chrono::seconds(cycles));
    });
    std::size_t first_descriptors = 0;
    std::size_t last_descriptors = 0;
    Image image = blank_image();
    for (unsigned c = 0; c < cycles; ++c) {
        {
            DriverLibrary driver;
            ASSERT_EQ(driver.set_io(pty.path().c_str()), 0u) << "cycle " << c;
            for (int q = 0; q < 4; ++q) {
                fill_test_image(image.data(), q, soak_seed(c, q));
                driver.send(image.data());
            }
        }
        last_descriptors = open_descriptors();
        first_descriptors = c == 0 ? last_descriptors : first_descriptors;
    }
    const Bytes received = line.get();
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(received == expected) << "the line differs from the encoder's frames";
    EXPECT_LE(last_descriptors, first_descriptors);
    std::cout << "soak: " << cycles << " load/unload cycles, " << 4 * cycles << " frames, "
              << received.size() << " bytes compared, descriptors after the first and the last "
              << "cycle " << first_descriptors << " and " << last_descriptors << ", in "
              << std::fixed << std::setprecision(1) << took.count() << " s\n";
}

} // namespace
} // namespace lcd::test
