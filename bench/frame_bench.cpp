// What a frame costs the host's drawing thread, measured against what it cannot cost less than.
//
//   Encode/<image>   encode_line_records on one image    vs  ImageCopy: memcpy of the image
//   FrameCall        LCD_SendToGfxMemory (dlopen'ed      vs  FrameFloor: memcpy of the image
//                    library, quadrants alternating so       plus one write of a frame of the
//                    every call transmits) into a            same size to the same kind of
//                    terminal drained by another thread      terminal, drained the same way
//
// scripts/bench.sh runs everything in one run and prints the ratios of the medians.
#include "protocol/frame_encoder.h"
#include "protocol/protocol.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Image = std::vector<std::uint8_t>;
// Markers x = 1..4 of row 0 for `quadrant`.
void set_quadrant(Image &image, int quadrant) {
    for (int m = 1; m <= 4; ++m)
        image[static_cast<std::size_t>(m)] = m <= quadrant ? 1 : 0;
}

enum class Kind { RandomBits, AllZero, EveryByteEscaped, ArbitraryBytes };

Image make_image(Kind kind) {
    Image image(lcd::IMAGE_SIZE, 0);
    std::mt19937 rng(12345);
    switch (kind) {
    case Kind::RandomBits:
        for (auto &p : image)
            p = static_cast<std::uint8_t>(rng() & 1u);
        break;
    case Kind::AllZero:
        break;
    case Kind::EveryByteEscaped: // every group of eight packs to 0x0E
        for (std::size_t i = 0; i < image.size(); i += 8)
            image[i + 4] = image[i + 5] = image[i + 6] = 1;
        break;
    case Kind::ArbitraryBytes:
        for (auto &p : image)
            p = static_cast<std::uint8_t>(rng());
        break;
    }
    set_quadrant(image, 0);
    return image;
}

void ImageCopy(benchmark::State &state) {
    const Image image = make_image(Kind::RandomBits);
    Image copy(image.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), image.data(), image.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(ImageCopy);

void Encode(benchmark::State &state, Kind kind) {
    const Image image = make_image(kind);
    std::vector<std::uint8_t> out(lcd::FRAME_MAX_SIZE);
    std::uint32_t size = 0;
    for (auto _ : state) {
        size = lcd::encode_line_records(image.data(), 0, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["frame_bytes"] = size;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK_CAPTURE(Encode, RandomBits, Kind::RandomBits);
BENCHMARK_CAPTURE(Encode, AllZero, Kind::AllZero);
BENCHMARK_CAPTURE(Encode, EveryByteEscaped, Kind::EveryByteEscaped);
BENCHMARK_CAPTURE(Encode, ArbitraryBytes, Kind::ArbitraryBytes);

// A pseudo-terminal whose far side another thread reads and throws away, as fast as it comes.
class DrainedTerminal {
  public:
    DrainedTerminal() {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path_ = name;
        reader_ = std::thread([this] {
            std::vector<std::uint8_t> chunk(1 << 16);
            while (!stop_.load(std::memory_order_relaxed)) {
                pollfd pfd{master_, POLLIN, 0};
                if (poll(&pfd, 1, 20) > 0 && (pfd.revents & POLLIN) != 0 &&
                    ::read(master_, chunk.data(), chunk.size()) < 0)
                    break;
            }
        });
    }
    ~DrainedTerminal() {
        stop_ = true;
        reader_.join();
        close(slave_);
        close(master_);
    }
    DrainedTerminal(const DrainedTerminal &) = delete;
    DrainedTerminal &operator=(const DrainedTerminal &) = delete;

    const std::string &path() const { return path_; }
    // The terminal side, binary-clean as the driver sets its port up.
    int raw_terminal() {
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        return slave_;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

using u32 = std::uint32_t;
using SendToGfxMemory = void(const std::uint8_t *, u32, u32, u32, u32, u32);
using SetIoPropertys = u32(const char *, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32,
                           u32);

void FrameCall(benchmark::State &state) {
    void *library = dlopen(LCD_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        state.SkipWithError(dlerror());
        return;
    }
    const auto set_io = reinterpret_cast<SetIoPropertys *>(dlsym(library, "LCD_SetIOPropertys"));
    const auto send = reinterpret_cast<SendToGfxMemory *>(dlsym(library, "LCD_SendToGfxMemory"));
    {
        DrainedTerminal terminal;
        if (set_io(terminal.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) != 0) {
            state.SkipWithError("LCD_SetIOPropertys could not open the terminal");
        } else {
            Image images[2] = {make_image(Kind::RandomBits), make_image(Kind::RandomBits)};
            set_quadrant(images[1], 1);
            unsigned i = 0;
            for (auto _ : state)
                send(images[i++ & 1u].data(), 0, 0, 0, 0, 0);
            state.SetBytesProcessed(state.iterations() *
                                    static_cast<std::int64_t>(lcd::IMAGE_SIZE));
        }
    }
    // The port stays held by the library's module state; nothing else in this process uses it.
    dlclose(library);
}
BENCHMARK(FrameCall)->UseRealTime();

void FrameFloor(benchmark::State &state) {
    DrainedTerminal terminal;
    const int fd = terminal.raw_terminal();
    const Image image = make_image(Kind::RandomBits);
    Image copy(image.size());
    std::vector<std::uint8_t> frame(lcd::FRAME_MAX_SIZE);
    frame.resize(lcd::encode_line_records(image.data(), 0, frame.data()));
    for (auto _ : state) {
        std::memcpy(copy.data(), image.data(), image.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            state.SkipWithError("short write");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(lcd::IMAGE_SIZE));
}
BENCHMARK(FrameFloor)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
