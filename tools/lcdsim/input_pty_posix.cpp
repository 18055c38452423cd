// lcdsim's pseudo-terminal (--pty) on Linux: lcdsim reads the master side, the driver (or a
// COM port Wine maps to it) writes to the terminal whose path lcdsim prints.
#include "input_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lcd::sim {
namespace {

class PtyInput final : public FdInput {
  public:
    PtyInput(int master, int slave, std::string path, std::string pty_file)
        : slave_(slave), pty_file_(std::move(pty_file)) {
        fd_ = master;
        live_ = true;
        name_ = std::move(path);
    }
    ~PtyInput() override {
        if (slave_ >= 0)
            close(slave_);
    }

    // The terminal's path is announced last, when lcdsim is ready for the bytes.
    bool announce() override {
        if (!pty_file_.empty()) {
            const std::string tmp = pty_file_ + ".tmp";
            FILE *f = std::fopen(tmp.c_str(), "w");
            const bool written = f != nullptr && std::fprintf(f, "%s\n", name_.c_str()) > 0;
            if (f == nullptr || std::fclose(f) != 0 || !written ||
                std::rename(tmp.c_str(), pty_file_.c_str()) != 0) {
                why_ = "cannot write " + pty_file_;
                return false;
            }
        }
        std::printf("%s\n", name_.c_str());
        std::fflush(stdout);
        return true;
    }

  private:
    int slave_;
    std::string pty_file_;
};

} // namespace

std::unique_ptr<Input> open_pty_input(const std::string &pty_file, std::string &why) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name =
        master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    if (name == nullptr) {
        why = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0)
            close(master);
        return nullptr;
    }
    const std::string path = name;
    // Held open so the terminal survives the driver closing it and reopening it, and set raw
    // so the bytes arrive untranslated even before the driver sets the line up.
    const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0)
        make_raw(slave);
    return std::make_unique<PtyInput>(master, slave, path, pty_file);
}

} // namespace lcd::sim
