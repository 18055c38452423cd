// What each platform gives lcdsim's run: the parts of the help that name its inputs
// (help_posix.cpp, help_win32.cpp), and from its entry file (main_posix.cpp, main_win32.cpp)
// the input a command line names and the stop that Ctrl-C asks for.
#pragma once

#include "input.h"
#include "options.h"

#include <atomic>
#include <memory>
#include <string>

namespace lcd::sim {

// lcdsim as typed, the help's first part (usage and inputs) and its platform's options, each
// line within 80 columns.
extern const char *const COMMAND;
extern const char *const USAGE_INPUTS;
extern const char *const USAGE_LINE_OPTIONS;

// Opens the input `options` names; null with the reason in `why` (and `usage` set when the
// command line itself is wrong).
std::unique_ptr<Input> open_input(const Options &options, std::string &why, bool &usage);

// Set by Ctrl-C (and SIGTERM): the run stops, writes its outputs and reports.
extern std::atomic<bool> g_stop;
void catch_stop_requests();

// lcdsim itself, given its arguments (UTF-8) without the program name.
int run_lcdsim(const std::vector<std::string> &args);

} // namespace lcd::sim
