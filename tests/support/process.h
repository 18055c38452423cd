// Running a program the tests start (the tools, Wine), as a user would from a shell.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lcd::test {

struct Finished {
    int status = -1; // the exit status; -1 when it did not start, was killed or crashed
    std::string output;
};

enum class Capture {
    Stdout,          // stderr left where the test's own goes
    StdoutAndStderr, // both, interleaved as written
};

// Where a started program's output goes: a descriptor of the test's, or one of these.
inline constexpr int TO_NULL = -1;   // /dev/null
inline constexpr int INHERITED = -2; // wherever the test's own goes

// Starts `argv` (found on PATH, no shell) with its standard input empty and its standard output
// and error on `out` and `err`; it inherits the test's descriptors that are not close-on-exec.
// Returns its process id, or -1 when it could not be started.
pid_t start_program(std::vector<std::string> argv, int out = TO_NULL, int err = TO_NULL);

// Runs `argv` as start_program does, collects its output, and kills it when it outlives
// `limit`.
Finished run_program(std::vector<std::string> argv, std::chrono::seconds limit,
                     Capture capture = Capture::StdoutAndStderr);

} // namespace lcd::test
