// What a frame costs the host's drawing thread, measured against what it cannot cost less than.
//
//   Encode/<image>   encode_line_records on one image    vs  ImageCopy: memcpy of the image
//   FrameCall        LCD_SendToGfxMemory (the library    vs  FrameFloor: memcpy of the image
//                    loaded as a host does, quadrants        plus one write of a frame of the
//                    alternating so every call sends) into   same size to the same kind of
//                    a terminal drained by another thread    terminal, drained the same way
//   SkippedFrameCall LCD_SendToGfxMemory of the quadrant     vs  QuadrantCheck: select_quadrant
//                    sent last (the lock, the markers, the       alone; the difference is what
//                    last error; nothing written)                the lock and the call cost
//
// scripts/bench.sh runs everything in one run and prints the ratios of the medians.
#include "protocol/frame_encoder.h"
#include "protocol/protocol.h"
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/test_images.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

using lcd::test::Image;

enum class Kind { RandomBits, AllZero, EveryByteEscaped, ArbitraryBytes };

Image make_image(Kind kind) {
    switch (kind) {
    case Kind::RandomBits:
        return lcd::test::random_bits_image(12345, 0);
    case Kind::AllZero:
        return lcd::test::blank_image();
    case Kind::EveryByteEscaped:
        return lcd::test::escape_image();
    case Kind::ArbitraryBytes:
        break;
    }
    std::mt19937 rng(12345);
    Image image = lcd::test::blank_image();
    for (auto &p : image)
        p = static_cast<std::uint8_t>(rng());
    return lcd::test::image_for_quadrant(0, image);
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

void FrameCall(benchmark::State &state) {
    // The terminal outlives the library, so the sign-off at unload reaches a reader.
    lcd::test::Pty terminal;
    const lcd::test::Sink sink(terminal);
    const lcd::test::DriverLibrary driver;
    if (!driver.loaded()) {
        state.SkipWithError(driver.error().c_str());
        return;
    }
    const auto send = driver.fn<lcd::test::exports::SendToGfxMemory>("LCD_SendToGfxMemory");
    if (driver.set_io(terminal.path().c_str()) != 0) {
        state.SkipWithError("LCD_SetIOPropertys could not open the terminal");
        return;
    }
    const Image images[2] = {make_image(Kind::RandomBits),
                             lcd::test::image_for_quadrant(1, make_image(Kind::RandomBits))};
    unsigned i = 0;
    for (auto _ : state)
        send(images[i++ & 1u].data(), 0, 0, 0, 0, 0);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(lcd::IMAGE_SIZE));
}
BENCHMARK(FrameCall)->UseRealTime();

void FrameFloor(benchmark::State &state) {
    lcd::test::Pty terminal;
    const lcd::test::Sink sink(terminal);
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

// The frame call for the quadrant sent last, which the driver skips: what every call costs a host
// beyond the frame itself, the uncontended lock included.
void SkippedFrameCall(benchmark::State &state) {
    lcd::test::Pty terminal;
    const lcd::test::Sink sink(terminal);
    const lcd::test::DriverLibrary driver;
    if (!driver.loaded() || driver.set_io(terminal.path().c_str()) != 0) {
        state.SkipWithError("the library could not set the terminal up");
        return;
    }
    const auto send = driver.fn<lcd::test::exports::SendToGfxMemory>("LCD_SendToGfxMemory");
    const Image image = make_image(Kind::RandomBits);
    send(image.data(), 0, 0, 0, 0, 0); // sent: the same quadrant is skipped from now on
    for (auto _ : state)
        send(image.data(), 0, 0, 0, 0, 0);
}
BENCHMARK(SkippedFrameCall);

void QuadrantCheck(benchmark::State &state) {
    const Image image = make_image(Kind::RandomBits);
    for (auto _ : state) {
        benchmark::DoNotOptimize(image.data());
        benchmark::DoNotOptimize(lcd::select_quadrant(image.data()));
    }
}
BENCHMARK(QuadrantCheck);

} // namespace

BENCHMARK_MAIN();
