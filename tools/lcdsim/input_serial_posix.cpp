// lcdsim's input from a serial device on Linux (/dev/ttyUSB0, a terminal): set raw so the
// bytes arrive as the driver sent them, and live: a far end that hangs up may come back.
#include "input_posix.h"

namespace lcd::sim {
namespace {

class SerialInput final : public FdInput {
  public:
    SerialInput(int fd, const std::string &path) {
        fd_ = fd;
        name_ = path;
        live_ = true;
        make_raw(fd_);
    }
};

} // namespace

std::unique_ptr<Input> serial_input(int fd, const std::string &path) {
    return std::make_unique<SerialInput>(fd, path);
}

} // namespace lcd::sim
