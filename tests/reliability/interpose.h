// Counters kept by the test executable's own write() and allocation functions, which the
// loaded driver library calls instead of the C library's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lcd::test {

struct CallCounts {
    std::uint64_t writes = 0;        // write() calls
    std::uint64_t bytes_written = 0; // bytes those calls were asked to write
    std::uint64_t bytes_taken = 0;   // bytes those calls did write
    std::uint64_t short_writes = 0;  // calls that wrote less than asked (or nothing)
    std::uint64_t allocations = 0;   // malloc/calloc/realloc/aligned allocations, operator new
};

// Starts counting this thread's calls; the previous counts are dropped.
void start_counting();
// Stops counting and returns what was counted.
CallCounts stop_counting();

// While on, this thread's tcsetattr calls act like a UART driver that cannot make the rate
// asked for: the rest of the change takes, the rate stays as the terminal had it.
void refuse_line_rate(bool on);

// While `error` is nonzero, this thread's write() calls fail with it and write nothing, as on a
// device that went away.
void fail_writes(int error);

// Whether malloc and its siblings are counted in this build (not under AddressSanitizer, whose
// allocator must stay in charge); operator new always is.
bool counts_malloc();

// Whether allocations are seen at all in this run: not under valgrind, which puts its own
// allocator in place of every one, this executable's too. Found out with a test allocation.
bool allocations_seen();

} // namespace lcd::test
