// What the set-up and frame calls may cost the host's thread: no allocation, and one write per
// transmission, of the whole transmission; a further write only for the rest of what the
// terminal took in part (it takes about 12 KB at a time).
#include "interpose.h"
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <unistd.h>

namespace lcd::test {
namespace {

TEST(FrameCost, CountersSeeAllocationsAndWrites) {
    if (!allocations_seen())
        GTEST_SKIP() << "the allocator is not this executable's here (valgrind)";
    start_counting();
    void *volatile p = ::operator new(16);
    ::operator delete(p);
    if (counts_malloc()) {
        void *volatile m = std::malloc(16);
        std::free(m);
    }
    const std::uint8_t byte = 0;
    EXPECT_EQ(::write(-1, &byte, 1), -1); // cppcheck-suppress invalidFunctionArg
    const CallCounts counts = stop_counting();
    EXPECT_GE(counts.allocations, counts_malloc() ? 2u : 1u);
    EXPECT_EQ(counts.writes, 1u);
}

TEST(FrameCost, NoAllocationAndOneWritePerTransmission) {
    // Under valgrind only the writes are counted; the allocations are checked in the other runs.
    const std::uint64_t no_allocations = 0;
    const bool seen = allocations_seen();
    DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    Pty pty;
    Sink sink(pty);
    const std::string port = pty.path();

    start_counting();
    const u32 opened = driver.set_io(port.c_str(), 1, 0x33);
    CallCounts counts = stop_counting();
    ASSERT_EQ(opened, 0u);
    EXPECT_EQ(seen ? counts.allocations : 0, no_allocations);
    EXPECT_EQ(counts.writes, 1u); // the initialisation, whole
    EXPECT_EQ(counts.bytes_written, INIT_SEQUENCE.size());

    Image images[4];
    std::size_t sizes[4];
    for (int q = 0; q < 4; ++q) {
        images[q] = image_for_quadrant(q);
        for (std::size_t i = IMAGE_WIDTH; i < images[q].size(); i += 3)
            images[q][i] = static_cast<std::uint8_t>((i / 7) & 1u);
        sizes[q] = reference_frame(images[q], q).size();
    }
    struct Step {
        int quadrant;
        std::uint64_t writes;
        std::size_t extra_bytes; // the setting trailer riding behind
    };
    const Step steps[] = {{0, 1, 3}, {0, 0, 0}, {1, 1, 0}, {3, 1, 0},
                          {2, 1, 0}, {2, 0, 0}, {0, 1, 0}};
    for (const Step &step : steps) {
        const auto q = static_cast<std::size_t>(step.quadrant);
        start_counting();
        driver.send(images[q].data());
        counts = stop_counting();
        EXPECT_EQ(seen ? counts.allocations : 0, no_allocations) << step.quadrant;
        EXPECT_EQ(counts.writes - counts.short_writes, step.writes) << step.quadrant;
        EXPECT_EQ(counts.bytes_taken, step.writes * (sizes[q] + step.extra_bytes)) << step.quadrant;
    }

    // Later set-up calls only record the setting.
    start_counting();
    EXPECT_EQ(driver.set_io(port.c_str(), 1, 0x44), 0u);
    counts = stop_counting();
    EXPECT_EQ(seen ? counts.allocations : 0, no_allocations);
    EXPECT_EQ(counts.writes, 0u);
}

} // namespace
} // namespace lcd::test
