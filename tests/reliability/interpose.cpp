#include "interpose.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <termios.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define LCD_COUNT_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LCD_COUNT_MALLOC 0
#endif
#endif
#ifndef LCD_COUNT_MALLOC
#define LCD_COUNT_MALLOC 1
#endif

// The build hides symbols by default; these must be seen by the loaded library.
#define LCD_INTERPOSE __attribute__((visibility("default")))

namespace lcd::test {
namespace {

// Only the counting thread's calls are counted: the terminal readers run on other threads.
thread_local bool counting = false;
thread_local CallCounts counts;
thread_local bool refusing_rate = false;
thread_local int write_error = 0;

void count_allocation() {
    if (counting)
        ++counts.allocations;
}

} // namespace

void start_counting() {
    counts = {};
    counting = true;
}

CallCounts stop_counting() {
    counting = false;
    return counts;
}

void refuse_line_rate(bool on) {
    refusing_rate = on;
}

void fail_writes(int error) {
    write_error = error;
}

bool counts_malloc() {
    return LCD_COUNT_MALLOC != 0;
}

bool allocations_seen() {
    const CallCounts saved = counts;
    const bool was_counting = counting;
    start_counting();
    void *volatile p = ::operator new(16);
    ::operator delete(p);
    const bool seen = stop_counting().allocations > 0;
    counts = saved;
    counting = was_counting;
    return seen;
}

} // namespace lcd::test

extern "C" LCD_INTERPOSE ssize_t write(int fd, const void *data, size_t n) {
    using Write = ssize_t(int, const void *, size_t);
    static Write *const next = reinterpret_cast<Write *>(dlsym(RTLD_NEXT, "write"));
    if (lcd::test::write_error != 0) {
        errno = lcd::test::write_error;
        return -1;
    }
    const ssize_t written = next(fd, data, n);
    if (lcd::test::counting) {
        const int saved = errno;
        ++lcd::test::counts.writes;
        lcd::test::counts.bytes_written += n;
        lcd::test::counts.bytes_taken += written > 0 ? static_cast<std::uint64_t>(written) : 0;
        lcd::test::counts.short_writes += written < static_cast<ssize_t>(n) ? 1 : 0;
        errno = saved;
    }
    return written;
}

extern "C" LCD_INTERPOSE int tcsetattr(int fd, int when, const termios *tio) {
    using SetAttr = int(int, int, const termios *);
    static SetAttr *const next = reinterpret_cast<SetAttr *>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (!lcd::test::refusing_rate || tio == nullptr)
        return next(fd, when, tio);
    termios now{};
    if (tcgetattr(fd, &now) != 0)
        return -1;
    termios changed = *tio;
    cfsetispeed(&changed, cfgetispeed(&now));
    cfsetospeed(&changed, cfgetospeed(&now));
    return next(fd, when, &changed);
}

#if LCD_COUNT_MALLOC
// glibc's own entry points: no dlsym (which allocates) on the way to the real allocator.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);

LCD_INTERPOSE void *malloc(size_t n) {
    lcd::test::count_allocation();
    return __libc_malloc(n);
}
LCD_INTERPOSE void *calloc(size_t count, size_t n) {
    lcd::test::count_allocation();
    return __libc_calloc(count, n);
}
LCD_INTERPOSE void *realloc(void *p, size_t n) {
    lcd::test::count_allocation();
    return __libc_realloc(p, n);
}
LCD_INTERPOSE void *aligned_alloc(size_t alignment, size_t n) {
    lcd::test::count_allocation();
    return __libc_memalign(alignment, n);
}
LCD_INTERPOSE int posix_memalign(void **out, size_t alignment, size_t n) {
    lcd::test::count_allocation();
    void *p = __libc_memalign(alignment, n);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
LCD_INTERPOSE void free(void *p) {
    __libc_free(p);
}
}
#endif

// operator new in all its plain forms; the aligned forms and delete keep the library's.
LCD_INTERPOSE void *operator new(std::size_t n) {
    lcd::test::count_allocation();
    if (void *p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}
LCD_INTERPOSE void *operator new[](std::size_t n) {
    return operator new(n);
}
LCD_INTERPOSE void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    lcd::test::count_allocation();
    return std::malloc(n == 0 ? 1 : n);
}
LCD_INTERPOSE void *operator new[](std::size_t n, const std::nothrow_t &tag) noexcept {
    return operator new(n, tag);
}
LCD_INTERPOSE void operator delete(void *p) noexcept {
    std::free(p);
}
LCD_INTERPOSE void operator delete[](void *p) noexcept {
    std::free(p);
}
LCD_INTERPOSE void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
LCD_INTERPOSE void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}
