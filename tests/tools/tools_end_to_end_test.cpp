// The driver library, lcdsim and lcdtest together, as a user runs them: frames through the
// native driver over a pseudo-terminal back into the decoder, lcdsim on broken captures, and
// lcdtest driving lcdsim's own terminal.
#include "panel_decoder.h"
#include "png_panel.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using u32 = std::uint32_t;
using lcd::test::Image;

std::string temp_path(const std::string &name) {
    return ::testing::TempDir() + "lcd_tools_" + std::to_string(getpid()) + "_" + name;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs a shell command, collecting stdout and stderr together.
Outcome run(const std::string &command) {
    Outcome r;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return r;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        r.output.append(buffer, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

lcd::sim::Panel packed_quadrant(const Image &image, int q, lcd::sim::Panel panel) {
    const std::size_t x0 = (q & 1) ? 40 : 0, y0 = (q & 2) ? 240 : 0;
    for (std::size_t y = 0; y < 240; ++y)
        for (std::size_t g = 0; g < 40; ++g) {
            std::uint8_t d = 0;
            for (std::size_t l = 0; l < 8; ++l)
                d = static_cast<std::uint8_t>(d | ((image[y * 320 + 8 * g + l] & 1u) << (7 - l)));
            panel[(y0 + y) * 80 + x0 + g] = d;
        }
    return panel;
}

// Through the real library, the way a host calls it, into the decoder: every quadrant, bytes
// that need escaping, and settings (0x0E among them) riding behind frames.
TEST(ToolsEndToEnd, DriverFramesDecodeBackToTheirPixels) {
    void *lib = dlopen(LCD_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using SetIo =
        u32(const char *, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32);
    using Send = void(const std::uint8_t *, u32, u32, u32, u32, u32);
    const auto set_io = reinterpret_cast<SetIo *>(dlsym(lib, "LCD_SetIOPropertys"));
    const auto send = reinterpret_cast<Send *>(dlsym(lib, "LCD_SendToGfxMemory"));
    ASSERT_TRUE(set_io != nullptr && send != nullptr);

    lcd::test::Pty pty;
    lcd::sim::PanelDecoder decoder;
    lcd::sim::Panel expected{};
    // Reads exactly what the call should write (slow runs, e.g. under valgrind, included).
    auto drained = [&](auto call, std::size_t count) {
        auto line = std::async(std::launch::async,
                               [&] { return pty.read(count, std::chrono::milliseconds(3000)); });
        call();
        const Bytes bytes = line.get();
        EXPECT_EQ(bytes.size(), count);
        decoder.feed(bytes.data(), bytes.size());
    };
    drained(
        [&] {
            ASSERT_EQ(set_io(pty.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0E, 0, 0, 0), 0u);
        },
        7);

    std::mt19937 rng(11);
    // Frame k carries the setting recorded before it: 0x0E from the set-up, then settings[k-1].
    const std::uint8_t settings[] = {0x00, 0x0B, 0x0A, 0x0E, 0x7F};
    const int quadrants[] = {0, 1, 2, 3, 1};
    for (std::size_t k = 0; k < 5; ++k) {
        const int q = quadrants[k];
        Image image(320 * 240);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = (i / 320) % 3 == 0 ? ((i % 8 >= 4 && i % 8 <= 6) ? 1 : 0) // 0x0E bytes
                                          : static_cast<std::uint8_t>(rng() & 1u);
        image = lcd::test::image_for_quadrant(q, image);
        expected = packed_quadrant(image, q, expected);
        const std::size_t size =
            lcd::test::reference_frame(image, q, k == 0 ? 0x0E : settings[k - 1]).size();
        drained([&] { send(image.data(), 0, 0, 0, 0, 0); }, size);
        EXPECT_EQ(decoder.panel(), expected) << "after frame " << k;
        ASSERT_EQ(decoder.last_setting_length(), 1u);
        EXPECT_EQ(decoder.last_setting()[0], k == 0 ? 0x0E : settings[k - 1]) << "frame " << k;
        // The port is up: recording a setting sends nothing.
        set_io(pty.path().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 1, settings[k], 0, 0, 0);
    }
    decoder.finish();
    EXPECT_EQ(decoder.counters().frames, 5u);
    EXPECT_EQ(decoder.counters().settings, 6u); // the initialisation and five trailers
    EXPECT_EQ(decoder.counters().finishes, 1u);
    EXPECT_EQ(decoder.counters().errors, 0u);
    dlclose(lib);
}

struct SimCase {
    const char *name;
    Bytes stream;
    int status;
    std::vector<std::string> messages;
    const char *options = "";
};

// A line record for line `line` at `address` whose 40 pixel bytes are `pixels`, escaped.
Bytes line_record(std::uint8_t line, std::uint8_t address, const Bytes &pixels) {
    Bytes b{0x0E, 0x01};
    for (std::uint8_t v : Bytes{line, address}) {
        b.push_back(v);
        if (v == 0x0E)
            b.push_back(v);
    }
    for (std::uint8_t v : pixels) {
        b.push_back(v);
        if (v == 0x0E)
            b.push_back(v);
    }
    return b;
}

TEST(ToolsEndToEnd, LcdsimReportsBrokenCapturesWithOffsets) {
    Bytes good = lcd::test::reference_frame(lcd::test::image_for_quadrant(2), 2, 0x33);
    Bytes truncated(good.begin(), good.begin() + 500);
    const std::vector<SimCase> cases = {
        {"clean frame",
         good,
         0,
         {"frames        1", "line records  240", "settings      1 (33)", "errors        0"}},
        {"unknown command",
         {0x0E, 0x09},
         1,
         {"offset 0: unknown command (0x09)", "errors        1"}},
        {"line over 239",
         [] {
             Bytes b{0x55, 0x0E, 0x01, 0xF5, 0x00};
             b.resize(45, 0);
             return b;
         }(),
         1,
         {"offset 0: byte outside any command (0x55)", "offset 3: line byte over 239 (0xF5)"}},
        {"cut short",
         truncated,
         1,
         {"offset 484: line record cut short by the end of the input",
          "(+ 11 lines of an unfinished frame)"}},
        {"bad escape",
         {0x0E, 0x01, 0x01, 0x28, 0x0E, 0x99},
         1,
         {"offset 4: escape followed by neither a command nor 0x0E (0E 99)"}},
        {"every command and error, traced",
         [] {
             Bytes b{0x0E, 0x02, 0x50, 0x03, 0x00, 0x0E, 0x0B};
             Bytes pixels(40, 0x81);
             pixels[3] = pixels[17] = 0x0E;
             for (const Bytes &part : {line_record(5, 0x80 | 40, pixels),         // 7
                                       Bytes{0x0E, 0x02, 0x42},                   // 53
                                       Bytes{0x0E, 0x09, 0x0E, 0x0B, 0x55},       // 56, 58, 60
                                       line_record(0xF5, 0, Bytes(40, 0)),        // 61
                                       line_record(0, 0x29, Bytes(40, 0)),        // 105
                                       Bytes{0x0E, 0x01, 0x00, 0x00, 0x0E, 0x99}, // 149
                                       Bytes{0x0E, 0x01, 0x00, 0x00, 0x11, 0x0E, 0x0B}, // 155
                                       Bytes{0x0E}})                                    // 162
                 b.insert(b.end(), part.begin(), part.end());
             return b;
         }(),
         1,
         {"\n         0  setting 50 03 00\n         5  finish\n",
          "\n         7  line 5 half 1 column 40 (row 245), 2 escaped\n        53  setting 42\n",
          "\n        56  error: unknown command (0x09)\n        58  finish\n",
          "\n        60  error: byte outside any command (0x55)\n",
          "\n        63  error: line byte over 239 (0xF5)\n",
          "\n       108  error: address past the panel (0x29: byte column 41 + 40 > 80)\n",
          "\n       153  error: escape followed by neither a command nor 0x0E (0E 99)\n",
          "\n       160  error: line record cut short by command 0E 0B\n       160  finish\n",
          "\n       162  error: escape byte with nothing after it at the end of the input\n",
          "settings      2 (50 03 00, 42)", "errors        7"},
         " --trace"},
    };
    for (const SimCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string capture = temp_path("capture.bin"), png = temp_path("capture.png");
        write_file(capture, c.stream);
        const Outcome r =
            run(std::string(LCDSIM_PATH) + " " + capture + " --png " + png + c.options);
        EXPECT_EQ(r.status, c.status) << r.output;
        for (const std::string &m : c.messages)
            EXPECT_NE(r.output.find(m), std::string::npos) << "missing: " << m << "\n" << r.output;
        lcd::sim::Panel panel{};
        std::string why;
        EXPECT_TRUE(lcd::sim::read_panel_png(png, panel, why)) << why;
        std::remove(capture.c_str());
        std::remove(png.c_str());
    }
    // Usage and output problems: one line each, at start (a live input included), exit 2.
    const std::pair<const char *, const char *> refused[] = {
        {"--frames 0 -", "--frames takes a whole number"},
        {"/nonexistent/capture", "cannot open /nonexistent/capture"},
        {"--scale 2 -", "--scale sizes the PNG or the window"},
        {"--pty-file p.txt -", "--pty-file goes with --pty"},
        {"--pty --png /nonexistent/panel.png", "cannot write /nonexistent/panel.png: No such"},
        {"--capture /nonexistent/c.bin -", "cannot write /nonexistent/c.bin"},
    };
    for (const auto &[options, message] : refused) {
        const Outcome r = run(std::string(LCDSIM_PATH) + " " + options + " </dev/null");
        EXPECT_EQ(r.status, 2) << options << "\n" << r.output;
        const std::size_t at = r.output.find(message);
        EXPECT_NE(at, std::string::npos) << options << "\n" << r.output;
        EXPECT_EQ(r.output.find(message, at + 1), std::string::npos) << "repeated: " << r.output;
    }
    const Outcome headless = run("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(LCDSIM_PATH) +
                                 " --window - </dev/null");
    EXPECT_EQ(headless.status, 2) << headless.output;
    EXPECT_EQ(headless.output.rfind("lcdsim: --window: ", 0), 0u) << headless.output;
    EXPECT_EQ(std::count(headless.output.begin(), headless.output.end(), '\n'), 1)
        << headless.output;
    // A stream that stops short of the frames asked for is a failure, not a hang.
    EXPECT_EQ(run("printf '' | " + std::string(LCDSIM_PATH) + " - --frames 1").status, 1);
}

// lcdtest with a 640x480 PBM, the native driver next to it, into lcdsim's own terminal: the
// PNG lcdsim writes is the picture with the markers set.
TEST(ToolsEndToEnd, LcdtestDrivesLcdsimThroughItsTerminal) {
    const std::string pbm = temp_path("picture.pbm"), png = temp_path("panel.png"),
                      pty_file = temp_path("pty.txt"), capture = temp_path("line.bin");
    // Diagonal stripes and a frame: every pixel depends on its place.
    std::vector<std::uint8_t> lit(640 * 480);
    std::string file = "P4\n640 480\n";
    for (std::size_t y = 0; y < 480; ++y)
        for (std::size_t xb = 0; xb < 80; ++xb) {
            std::uint8_t byte = 0;
            for (std::size_t b = 0; b < 8; ++b) {
                const std::size_t x = xb * 8 + b;
                const bool on = ((x + 2 * y) / 5) % 3 == 0 || y == 479 || x == 0;
                lit[y * 640 + x] = on;
                byte = static_cast<std::uint8_t>(byte | (on << (7 - b)));
            }
            file.push_back(static_cast<char>(byte));
        }
    write_file(pbm, Bytes(file.begin(), file.end()));
    // Markers: quadrant q's image has pixels 1..q of its row 0 lit and the rest of 1..4 off.
    for (int q = 0; q < 4; ++q)
        for (int m = 1; m <= 4; ++m)
            lit[((q & 2) ? 240u : 0u) * 640 + ((q & 1) ? 320u : 0u) + static_cast<unsigned>(m)] =
                m <= q;
    lcd::sim::Panel expected{};
    for (std::size_t i = 0; i < lit.size(); ++i)
        if (lit[i])
            expected[i / 8] = static_cast<std::uint8_t>(expected[i / 8] | (0x80u >> (i % 8)));

    auto sim = std::async(std::launch::async, [&] {
        return run(std::string(LCDSIM_PATH) + " --pty --pty-file " + pty_file + " --png " + png +
                   " --frames 4 --idle-exit 20 --capture " + capture);
    });
    std::string path;
    for (int i = 0; i < 200 && path.empty(); ++i) {
        std::ifstream(pty_file) >> path;
        if (path.empty())
            usleep(20'000);
    }
    ASSERT_FALSE(path.empty()) << "lcdsim did not start";
    const Outcome test = run(std::string(LCDTEST_PATH) + " " + path + " " + pbm + " --setting 5A");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("driver: Kestrivon 640x480 LCD Controller"), std::string::npos)
        << test.output;
    const Outcome sim_run = sim.get();
    EXPECT_EQ(sim_run.status, 0) << sim_run.output;
    EXPECT_NE(sim_run.output.find("frames        4"), std::string::npos) << sim_run.output;
    // The 5A rides behind the first frame; unloading the driver at exit signs off with 0A.
    EXPECT_NE(sim_run.output.find("settings      3 (50 03 00, 5A, 0A)"), std::string::npos)
        << sim_run.output;
    EXPECT_NE(sim_run.output.find("finishes      2"), std::string::npos) << sim_run.output;
    // The capture replays to the same report.
    const Outcome replay = run(std::string(LCDSIM_PATH) + " " + capture);
    EXPECT_EQ(replay.status, 0) << replay.output;
    const std::string report = sim_run.output.substr(sim_run.output.find("bytes"));
    EXPECT_EQ(replay.output, report.substr(0, report.find("png")));

    lcd::sim::Panel panel{};
    std::string why;
    ASSERT_TRUE(lcd::sim::read_panel_png(png, panel, why)) << why;
    std::size_t differ = 0;
    for (std::size_t i = 0; i < panel.size(); ++i)
        differ += static_cast<std::size_t>(__builtin_popcount(panel[i] ^ expected[i]));
    EXPECT_EQ(differ, 0u);

    // A port that is not there: a clear message and its own exit status.
    const Outcome missing = run(std::string(LCDTEST_PATH) + " /dev/lcd-no-such-port");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.output.find("cannot open port /dev/lcd-no-such-port"), std::string::npos)
        << missing.output;
    for (const std::string &f : {pbm, png, pty_file, capture})
        std::remove(f.c_str());
}

} // namespace
