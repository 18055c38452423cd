// lcdsim's input from a capture file, a FIFO or stdin (-) on Linux: read to its end. A path
// that turns out to be a terminal is a serial device (input_serial_posix.cpp).
#include "input_posix.h"
#include "os_text.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace lcd::sim {
namespace {

class FileInput final : public FdInput {
  public:
    FileInput(int fd, std::string name, bool owned) {
        fd_ = fd;
        owned_ = owned;
        name_ = std::move(name);
    }
};

} // namespace

std::unique_ptr<Input> open_file_input(const std::string &path, std::string &why) {
    if (path == "-")
        return std::make_unique<FileInput>(STDIN_FILENO, "stdin", false);
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + path + ": " +
              lcd::tool::file_error_text(static_cast<unsigned long>(errno));
        return nullptr;
    }
    if (isatty(fd))
        return serial_input(fd, path);
    return std::make_unique<FileInput>(fd, path, true);
}

} // namespace lcd::sim
