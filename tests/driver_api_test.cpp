// The built driver library, loaded by name and called through function pointers exactly as a
// host does, with the host's argument lists.
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using u32 = std::uint32_t;
using Bytes = std::vector<std::uint8_t>;

struct Driver {
    void *handle = dlopen(LCD_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ~Driver() {
        if (handle != nullptr)
            dlclose(handle);
    }
    template <class F> F *fn(const char *name) const {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }
};

using GetInfo = std::uint8_t *(std::uint8_t *);
using NoArgs = void();
using ByteResult = std::uint8_t();
using GetCgramChar = std::uint8_t(u32);
using SendToGfxMemory = void(const std::uint8_t *, u32, u32, u32, u32, u32);
using SetIoPropertys = u32(const char *, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32,
                           u32);

TEST(DriverApi, ExportsEveryOperation) {
    Driver driver;
    ASSERT_NE(driver.handle, nullptr) << dlerror();
    for (const char *name :
         {"DLL_GetInfo", "LCD_CleanUp", "LCD_ConfigDialog", "LCD_Customize", "LCD_GetCGRAMChar",
          "LCD_Init", "LCD_IsReadyToReceive", "LCD_SendToController", "LCD_SendToGfxMemory",
          "LCD_SendToMemory", "LCD_SetCGRAMChar", "LCD_SetIOPropertys", "LCD_SetOutputAddress"})
        EXPECT_NE(dlsym(driver.handle, name), nullptr) << name;
}

TEST(DriverApi, InformationRecordAndFixedAnswers) {
    Driver driver;
    std::uint8_t area[264 + 16];
    std::memset(area, 0xFF, sizeof area);
    EXPECT_EQ(driver.fn<GetInfo>("DLL_GetInfo")(area + 8), area + 8);

    Bytes expected(264, 0);
    std::memcpy(expected.data(), "Kestrivon 640x480 LCD Controller", 32);
    const std::uint8_t descriptor[8] = {1, 0, 0, 1, 0, 8, 8, 8};
    std::memcpy(expected.data() + 256, descriptor, 8);
    EXPECT_EQ(Bytes(area + 8, area + 8 + 264), expected);
    EXPECT_EQ(Bytes(area, area + 8), Bytes(8, 0xFF));
    EXPECT_EQ(Bytes(area + 272, area + 280), Bytes(8, 0xFF));
    EXPECT_EQ(driver.fn<GetInfo>("DLL_GetInfo")(nullptr), nullptr);

    const auto get_cgram_char = driver.fn<GetCgramChar>("LCD_GetCGRAMChar");
    EXPECT_EQ(get_cgram_char(5), 5);
    EXPECT_EQ(get_cgram_char(0x1234), 0x34);
    EXPECT_EQ(driver.fn<ByteResult>("LCD_IsReadyToReceive")(), 1);
}

// One load of the library, as one host session: set-up, frames, settings, bad arguments.
TEST(DriverApi, HostSessionOverATerminal) {
    Driver driver;
    const auto set_io = driver.fn<SetIoPropertys>("LCD_SetIOPropertys");
    const auto send = driver.fn<SendToGfxMemory>("LCD_SendToGfxMemory");
    lcd::test::Pty pty;

    // Before any port: frames and null pointers change nothing, answers stay the same.
    const lcd::test::Image q0 = lcd::test::image_for_quadrant(0);
    send(q0.data(), 0, 0, 0, 0, 0);
    send(nullptr, 0, 0, 0, 0, 0);
    EXPECT_EQ(set_io(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0, 0), 1u);
    EXPECT_EQ(set_io("/dev/lcd-driver-no-such-port", 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0, 0), 1u);
    EXPECT_EQ(driver.fn<ByteResult>("LCD_IsReadyToReceive")(), 1);
    driver.fn<NoArgs>("LCD_Init")();
    driver.fn<NoArgs>("LCD_CleanUp")();

    Bytes line = pty.during([&] {
        EXPECT_EQ(set_io(pty.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0E, 0, 0, 0), 0u);
    });
    EXPECT_EQ(line, (Bytes{0x0E, 0x02, 0x50, 0x03, 0x00, 0x0E, 0x0B}));

    // The frame handed over before the port came up was not used up: quadrant 0 still goes.
    line = pty.during([&] { send(q0.data(), 0, 0, 0, 0, 0); });
    EXPECT_EQ(line, lcd::test::reference_frame(q0, 0, 0x0E));
    line = pty.during([&] { send(q0.data(), 0, 0, 0, 0, 0); });
    EXPECT_TRUE(line.empty());
}

// Unloading lets go of the port with the controller's sign-off, so a host that loads the
// library again can open the same port. A forked child that ends unloads its copy of the
// library too, but the port is the parent's: no sign-off, and the parent keeps its lock.
TEST(DriverApi, UnloadReleasesThePort) {
    lcd::test::Pty pty;
    const Bytes init = {0x0E, 0x02, 0x50, 0x03, 0x00, 0x0E, 0x0B};
    const auto locked = [&] {
        const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool refused = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            close(fd);
        return refused;
    };
    for (int load = 0; load < 2; ++load) {
        auto driver = std::make_unique<Driver>();
        const auto set_io = driver->fn<SetIoPropertys>("LCD_SetIOPropertys");
        Bytes line = pty.during([&] {
            EXPECT_EQ(set_io(pty.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0u)
                << "load " << load;
        });
        EXPECT_EQ(line, init);
        if (load == 0) {
            line = pty.during([] {
                const pid_t child = fork();
                if (child == 0)
                    std::exit(0); // runs the library's unload in the child
                int status = 0;
                waitpid(child, &status, 0);
            });
            EXPECT_TRUE(line.empty()) << "the child signed off on the parent's port";
            EXPECT_TRUE(locked()) << "the child let go of the parent's lock";
        }
        line = pty.during([&] { driver.reset(); });
        EXPECT_EQ(line, (Bytes{0x0E, 0x02, 0x0A, 0x0E, 0x0B})) << "load " << load;
        EXPECT_FALSE(locked()) << "load " << load;
    }
}

} // namespace
