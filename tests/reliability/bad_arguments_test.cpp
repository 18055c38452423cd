// What a careless host can hand the exported operations: each gets its status and nothing
// crashes, reads past what it was given, or keeps a port it failed to set up.
#include "interpose.h"
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace lcd::test {
namespace {

TEST(BadArguments, PortNamesThatAreNoPortGetTheirStatus) {
    char file_template[] = "/tmp/lcd_reliability_XXXXXX";
    const int file = mkstemp(file_template);
    ASSERT_GE(file, 0);
    close(file);
    const std::string over_long = "/dev/" + std::string(PATH_MAX + 10, 'x');
    const std::string deep_long = std::string(PATH_MAX - 1, '/');
    char no_terminator[300]; // a name without its end inside what a host might pass
    std::memset(no_terminator, 'A', sizeof no_terminator - 1);
    no_terminator[sizeof no_terminator - 1] = '\0';

    struct Case {
        const char *name;
        u32 status;
    };
    const Case cases[] = {
        {nullptr, 1},           {"", 1},          {"COM3", 1},
        {"\\\\.\\COM12", 1},    {"/tmp", 1},      {over_long.c_str(), 1},
        {no_terminator, 1},     {"/dev/null", 2}, {file_template, 2},
        {deep_long.c_str(), 1},
    };
    DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    for (const Case &c : cases) {
        start_counting();
        EXPECT_EQ(driver.set_io(c.name, 1, 9), c.status)
            << (c.name != nullptr ? std::string(c.name).substr(0, 40) : "(null)");
        EXPECT_EQ(stop_counting().writes, 0u); // nothing sent anywhere
        EXPECT_TRUE(driver.answers_every_entry_point());
    }
    unlink(file_template);

    // None of the failures kept a port or used up the open: a real terminal still opens, and
    // its first frame goes out whole, with the setting the failed calls recorded.
    Pty pty;
    const Bytes line =
        pty.during(INIT_SEQUENCE.size(), [&] { EXPECT_EQ(driver.set_io(pty.path().c_str()), 0u); });
    EXPECT_EQ(line.size(), INIT_SEQUENCE.size());
    const Image image = image_for_quadrant(1);
    const Bytes frame = reference_frame(image, 1, 9);
    EXPECT_EQ(pty.during(frame.size(), [&] { driver.send(image.data()); }), frame);
}

// The image is read exactly within its 76,800 bytes: here it ends against an inaccessible page.
TEST(BadArguments, ImageIsReadOnlyWithinItsBytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t image_pages = (IMAGE_SIZE + page - 1) / page;
    const std::size_t length = (image_pages + 1) * page;
    void *mapping =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    auto *const base = static_cast<std::uint8_t *>(mapping);
    ASSERT_EQ(mprotect(base + image_pages * page, page, PROT_NONE), 0);
    std::uint8_t *const pixels = base + image_pages * page - IMAGE_SIZE; // ends at the guard page

    Image image = image_for_quadrant(2);
    for (std::size_t i = IMAGE_WIDTH; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 37 >> 3); // every byte value
    std::memcpy(pixels, image.data(), image.size());

    DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    Pty pty;
    u32 opened = 1;
    pty.during(INIT_SEQUENCE.size(), [&] { opened = driver.set_io(pty.path().c_str()); });
    ASSERT_EQ(opened, 0u);
    const Bytes frame = reference_frame(image, 2);
    EXPECT_EQ(pty.during(frame.size(), [&] { driver.send(pixels); }), frame);
    munmap(mapping, length);
}

} // namespace
} // namespace lcd::test
