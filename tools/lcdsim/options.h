// lcdsim's command line: the options, parsed the same on every platform, and the help.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lcd::sim {

struct Options {
    std::string input;
    bool pty = false;
    std::string png;
    std::string pty_file;
    std::string capture;
    std::string vcd; // --vcd: the line as a logic analyzer's capture
    unsigned scale = 1;
    std::uint64_t frames = 0;        // 0: no limit
    std::optional<double> idle_exit; // unset: the default for the input
    bool quiet = false;
    bool trace = false;
    bool window = false;
    std::string name; // the input's name in the window's title; empty: the input as given
    std::vector<std::string> compare; // --compare A.png B.png
};

enum class Parsed : std::uint8_t {
    Run,  // run the simulator (or the comparison) with the options
    Done, // the help or the version was printed
};

// Parses `args` (without the program name) into `options`. A mistake prints what is wrong
// and ends lcdsim with status 2 (see usage_error).
Parsed parse_options(const std::vector<std::string> &args, Options &options);

// The whole help: the platform's inputs, the options, the exit status.
std::string help_text();

[[noreturn]] void usage_error(const std::string &what);

} // namespace lcd::sim
