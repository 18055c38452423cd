// Running a program the tests start (the tools, Wine), as a user would from a shell.
#pragma once

#include <chrono>
#include <string>
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

// Runs `argv` (found on PATH, no shell) with its standard input empty, collects its output,
// and kills it when it outlives `limit`.
Finished run_program(std::vector<std::string> argv, std::chrono::seconds limit,
                     Capture capture = Capture::StdoutAndStderr);

} // namespace lcd::test
