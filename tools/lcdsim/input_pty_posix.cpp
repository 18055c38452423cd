// lcdsim's pseudo-terminal (--pty) on Linux: lcdsim reads the master side, the driver (or a
// COM port Wine maps to it) writes to the terminal whose path lcdsim prints.
#include "input_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lcd::sim {
namespace {

// The terminal as the controlling terminal of a session of lcdsim's own. A terminal belongs
// to one session at most, so a program that opens it later while leading a session without
// a terminal -- Wine's server, which detaches into one -- cannot take it: when lcdsim ends and
// the terminal hangs up, that program gets no SIGHUP (Wine's server would dump its state into
// whatever output it has). lcdsim itself may lead a process group, which cannot start a
// session, so a child holds the terminal; it ends with the hang-up or when lcdsim has gone
// (its end of `alive` closes).
class SessionHolder {
  public:
    SessionHolder(const std::string &path, int master) {
        int alive[2], ready[2];
        if (pipe2(alive, O_CLOEXEC) != 0)
            return;
        if (pipe2(ready, O_CLOEXEC) != 0) {
            close(alive[0]);
            close(alive[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0)
            hold(path.c_str(), master, alive, ready[1]); // never returns
        close(alive[0]);
        close(ready[1]);
        if (pid_ < 0) {
            close(alive[1]);
            close(ready[0]);
            return;
        }
        alive_ = alive[1];
        // Announced only once the terminal is taken, so nobody can take it first.
        char taken = 0;
        while (::read(ready[0], &taken, 1) < 0 && errno == EINTR) {
        }
        close(ready[0]);
    }
    SessionHolder(const SessionHolder &) = delete;
    SessionHolder &operator=(const SessionHolder &) = delete;
    ~SessionHolder() {
        if (pid_ <= 0)
            return;
        close(alive_);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

  private:
    // In the child: only async-signal-safe calls.
    [[noreturn]] static void hold(const char *path, int master, const int (&alive)[2], int ready) {
        close(master);
        close(alive[1]);
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2 && null >= 0; ++fd)
            dup2(null, fd);
        char taken = 0;
        if (setsid() >= 0) {
            const int terminal = open(path, O_RDWR);
            taken = terminal >= 0 && ioctl(terminal, TIOCSCTTY, 0) == 0 ? 1 : 0;
        }
        (void)!write(ready, &taken, 1);
        close(ready);
        char byte;
        while (::read(alive[0], &byte, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int alive_ = -1;
};

class PtyInput final : public FdInput {
  public:
    PtyInput(int master, int slave, std::string path, std::string pty_file)
        : holder_(path, master), slave_(slave), pty_file_(std::move(pty_file)) {
        fd_ = master;
        live_ = true;
        name_ = std::move(path);
    }
    ~PtyInput() override {
        if (slave_ >= 0)
            close(slave_);
        // The master first: the holder's session is hung up and its child ends.
        close(fd_);
        fd_ = -1;
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
    SessionHolder holder_;
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
