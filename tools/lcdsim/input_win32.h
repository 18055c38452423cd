// lcdsim's inputs on Windows, one file each: a capture file or stdin (input_file_win32.cpp),
// a COM port (input_com_win32.cpp) and a named pipe lcdsim creates (input_pipe_win32.cpp).
#pragma once

#include "input.h"

namespace lcd::sim {

// A capture file, or - for stdin.
std::unique_ptr<Input> open_file_input(const std::string &path, std::string &why);
// A COM port (COM7, COM10 and up through \\.\, or any \\.\ device) set up as the
// controller's end of the line; `name` is what the user gave.
std::unique_ptr<Input> open_com_input(const std::string &name, std::string &why);
// A named pipe (\\.\pipe\NAME) created by lcdsim; a program connects and writes to it,
// and may disconnect and come back.
std::unique_ptr<Input> open_pipe_input(const std::string &name, std::string &why);

} // namespace lcd::sim
