// Lock, clock and last error on POSIX: a mutex, constant-initialised, the monotonic clock, errno.
#include "lock_clock_error.h"

#include <cerrno>
#include <pthread.h>
#include <time.h>

namespace lcd {
namespace {

pthread_mutex_t driver_lock = PTHREAD_MUTEX_INITIALIZER;

// A child forked while another thread of the host held the lock would find it held for good,
// and its unload (at exit) would wait for ever: the child starts with the lock free. The port
// it inherits is the parent's; the link neither writes to it nor lets go of its lock.
void free_lock_in_child() {
    pthread_mutex_init(&driver_lock, nullptr);
}

__attribute__((constructor)) void watch_forks() {
    pthread_atfork(nullptr, nullptr, free_lock_in_child);
}

} // namespace

DriverLock::DriverLock() {
    pthread_mutex_lock(&driver_lock);
}

DriverLock::~DriverLock() {
    pthread_mutex_unlock(&driver_lock);
}

std::uint64_t now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

void set_thread_error(std::uint32_t error) {
    errno = static_cast<int>(error);
}

std::uint32_t no_os_error(bool write_cut) {
    return static_cast<std::uint32_t>(write_cut ? ETIMEDOUT : ENODEV);
}

} // namespace lcd
