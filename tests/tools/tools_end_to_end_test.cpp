// The driver library, lcdsim and lcdtest together, as a user runs them: frames through the
// native driver over a pseudo-terminal back into the decoder, lcdsim on broken captures, and
// lcdtest driving lcdsim's own terminal, and lcdsim's live window on an X display of its own.
#include "options.h"
#include "panel_decoder.h"
#include "png_panel.h"
#include "support/driver_library.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/reference_encoder.h"
#include "tools/lcdtest/platform.h"
#if LCD_TEST_WINDOW
#include "support/x_display.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <pty.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using lcd::test::Bytes;
using lcd::test::Finished;
using lcd::test::Image;
using lcd::test::run_program;

// Long enough for a tool under valgrind; a hung tool fails the test instead of stalling it.
constexpr std::chrono::seconds TOOL_LIMIT{120};

std::string temp_path(const std::string &name) {
    return ::testing::TempDir() + "lcd_tools_" + std::to_string(getpid()) + "_" + name;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The terminal lcdsim --pty-file writes out, once it has; empty when lcdsim ended first.
std::string terminal_path(const std::string &pty_file, const std::future<Finished> &sim) {
    std::string path;
    const auto deadline = std::chrono::steady_clock::now() + TOOL_LIMIT;
    while (path.empty() && std::chrono::steady_clock::now() < deadline &&
           sim.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout)
        std::ifstream(pty_file) >> path;
    return path;
}

// Through the real library, the way a host calls it, into the decoder: every quadrant, bytes
// that need escaping, and settings (0x0E among them) riding behind frames.
TEST(ToolsEndToEnd, DriverFramesDecodeBackToTheirPixels) {
    const lcd::test::DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    ASSERT_TRUE(driver.symbol("LCD_SetIOPropertys") != nullptr &&
                driver.symbol("LCD_SendToGfxMemory") != nullptr);

    lcd::test::Pty pty;
    lcd::sim::PanelDecoder decoder;
    lcd::test::PackedPanel expected{};
    // Reads what the call should write, and nothing more, into the decoder.
    auto drained = [&](auto call, std::size_t count) {
        const Bytes bytes = pty.during(count, call);
        EXPECT_EQ(bytes.size(), count);
        decoder.feed(bytes.data(), bytes.size());
    };
    drained([&] { ASSERT_EQ(driver.set_io(pty.path().c_str(), 1, 0x0E), 0u); },
            lcd::INIT_SEQUENCE.size());

    std::mt19937 rng(11);
    // Frame k carries the setting recorded before it: 0x0E from the set-up, then settings[k-1].
    const std::uint8_t settings[] = {0x00, 0x0B, 0x0A, 0x0E, 0x7F};
    const int quadrants[] = {0, 1, 2, 3, 1};
    for (std::size_t k = 0; k < 5; ++k) {
        const int q = quadrants[k];
        Image image = lcd::test::escape_image(); // every third row stays 0x0E bytes
        for (std::size_t i = 0; i < image.size(); ++i)
            if ((i / lcd::IMAGE_WIDTH) % 3 != 0)
                image[i] = static_cast<std::uint8_t>(rng() & 1u);
        image = lcd::test::image_for_quadrant(q, image);
        expected = lcd::test::reference_panel(image, q, expected);
        const std::size_t size =
            lcd::test::reference_frame(image, q, k == 0 ? 0x0E : settings[k - 1]).size();
        drained([&] { driver.send(image.data()); }, size);
        EXPECT_EQ(decoder.panel(), expected) << "after frame " << k;
        ASSERT_EQ(decoder.last_setting_length(), 1u);
        EXPECT_EQ(decoder.last_setting()[0], k == 0 ? 0x0E : settings[k - 1]) << "frame " << k;
        // The port is up: recording a setting sends nothing.
        driver.set_io(pty.path().c_str(), 1, settings[k]);
    }
    decoder.finish();
    EXPECT_EQ(decoder.counters().frames, 5u);
    EXPECT_EQ(decoder.counters().settings, 6u); // the initialisation and five trailers
    EXPECT_EQ(decoder.counters().finishes, 1u);
    EXPECT_EQ(decoder.counters().errors, 0u);
}

struct SimCase {
    const char *name;
    Bytes stream;
    int status;
    std::vector<std::string> messages;
    std::vector<std::string> options = {};
};

// A line record for line `line` at `address` whose 40 pixel bytes are `pixels`, escaped.
Bytes line_record(std::uint8_t line, std::uint8_t address, const Bytes &pixels) {
    Bytes b{0x0E, 0x01};
    for (const std::uint8_t v : {line, address})
        lcd::test::put_escaped(b, v);
    for (const std::uint8_t v : pixels)
        lcd::test::put_escaped(b, v);
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
        {"one line",
         line_record(0, 0, Bytes(40, 0)),
         0,
         {"frames        0 (+ 1 line of an unfinished frame)"}},
        {"bad escape",
         {0x0E, 0x01, 0x01, 0x28, 0x0E, 0x99},
         1,
         {"offset 4: escape followed by neither a command nor 0x0E (0E 99)"}},
        {"every command and error, traced",
         [] {
             Bytes b = lcd::test::INIT;
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
         {"--trace"}},
    };
    for (const SimCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string capture = temp_path("capture.bin"), png = temp_path("capture.png");
        write_file(capture, c.stream);
        std::vector<std::string> argv = {LCDSIM_PATH, capture, "--png", png};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const Finished r = run_program(argv, TOOL_LIMIT);
        EXPECT_EQ(r.status, c.status) << r.output;
        for (const std::string &m : c.messages)
            EXPECT_NE(r.output.find(m), std::string::npos) << "missing: " << m << "\n" << r.output;
        lcd::sim::Panel panel{};
        std::string why;
        EXPECT_TRUE(lcd::sim::read_panel_png(png, panel, why)) << why;
        std::remove(capture.c_str());
        std::remove(png.c_str());
    }
    // A PNG of 57 bytes whose header claims 640000x480000: refused before it is decoded.
    const std::string huge = temp_path("huge.png");
    const std::string huge_png(
        "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x09\xc4\0\0\x07\x53\0\x01\0\0\0\0"
        "\x87\xd1\xde\xef\0\0\0\0IDAT\x35\xaf\x06\x1e\0\0\0\0IEND\xae\x42\x60\x82",
        57);
    write_file(huge, Bytes(huge_png.begin(), huge_png.end()));
    // Usage and output problems: one line each, at start (a live input included), exit 2.
    const std::pair<std::vector<std::string>, const char *> refused[] = {
        {{"--compare", huge, huge}, "larger than a panel picture (size 640000x480000;"},
        {{"--frames", "0", "-"}, "--frames takes a whole number"},
        {{"/nonexistent/capture"}, "cannot open /nonexistent/capture: there is no such file"},
        {{}, "lcdsim --help"},
        {{"--scale", "2", "-"}, "--scale sizes the PNG or the window"},
        {{"--pty-file", "p.txt", "-"}, "--pty-file goes with --pty"},
        {{"--pty", "--png", "/nonexistent/panel.png"}, "cannot write /nonexistent/panel.png: No"},
        {{"--capture", "/nonexistent/c.bin", "-"}, "cannot write /nonexistent/c.bin"},
        {{"--vcd", "/nonexistent/l.vcd", "-"}, "cannot write /nonexistent/l.vcd"},
        {{"--vcd", "l.bin", "--capture", "l.bin", "-"}, "--vcd and --capture name the same file"},
    };
    for (const auto &[options, message] : refused) {
        std::vector<std::string> argv = {LCDSIM_PATH};
        argv.insert(argv.end(), options.begin(), options.end());
        const Finished r = run_program(argv, TOOL_LIMIT);
        EXPECT_EQ(r.status, 2) << message << "\n" << r.output;
        const std::size_t at = r.output.find(message);
        EXPECT_NE(at, std::string::npos) << message << "\n" << r.output;
        EXPECT_EQ(r.output.find(message, at + 1), std::string::npos) << "repeated: " << r.output;
    }
    std::remove(huge.c_str());
    const Finished headless =
        run_program({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", LCDSIM_PATH, "--window", "-"},
                    TOOL_LIMIT);
    EXPECT_EQ(headless.status, 3) << headless.output;
    EXPECT_EQ(headless.output.rfind("lcdsim: --window: ", 0), 0u) << headless.output;
    EXPECT_EQ(std::count(headless.output.begin(), headless.output.end(), '\n'), 1)
        << headless.output;
    // A stream that stops short of the frames asked for (here: empty) is a failure, not a hang.
    EXPECT_EQ(run_program({LCDSIM_PATH, "-", "--frames", "1"}, TOOL_LIMIT).status, 1);
}

// lcdtest with a 640x480 PBM, the native driver next to it, into lcdsim's own terminal: the
// PNG lcdsim writes is the picture with the markers set.
TEST(ToolsEndToEnd, LcdtestDrivesLcdsimThroughItsTerminal) {
    const std::string pbm = temp_path("picture.pbm"), png = temp_path("panel.png"),
                      pty_file = temp_path("pty.txt"), capture = temp_path("line.bin");
    // Diagonal stripes and a frame: every pixel depends on its place.
    using lcd::PANEL_HEIGHT, lcd::PANEL_WIDTH;
    std::vector<std::uint8_t> lit(PANEL_WIDTH * PANEL_HEIGHT);
    for (std::size_t y = 0; y < PANEL_HEIGHT; ++y)
        for (std::size_t x = 0; x < PANEL_WIDTH; ++x)
            lit[y * PANEL_WIDTH + x] =
                ((x + 2 * y) / 5) % 3 == 0 || y == PANEL_HEIGHT - 1 || x == 0;
    // P4: one bit per pixel, 1 black (lit), packed like the panel's lines.
    std::string file =
        "P4\n" + std::to_string(PANEL_WIDTH) + " " + std::to_string(PANEL_HEIGHT) + "\n";
    for (std::size_t i = 0; i < lit.size(); i += 8)
        file.push_back(static_cast<char>(lcd::test::pack_group(&lit[i])));
    write_file(pbm, Bytes(file.begin(), file.end()));
    // Markers: each quadrant's image has them set for its own quadrant.
    for (int q = 0; q < 4; ++q)
        lcd::test::set_markers(&lit[((q & 2) ? lcd::IMAGE_HEIGHT * PANEL_WIDTH : 0) +
                                    ((q & 1) ? lcd::IMAGE_WIDTH : 0)],
                               q);
    lcd::test::PackedPanel expected{};
    for (std::size_t i = 0; i < lit.size(); i += 8)
        expected[i / 8] = lcd::test::pack_group(&lit[i]);

    auto sim = std::async(std::launch::async, [&] {
        return run_program({LCDSIM_PATH, "--pty", "--pty-file", pty_file, "--png", png, "--frames",
                            "4", "--idle-exit", "20", "--capture", capture},
                           TOOL_LIMIT);
    });
    const std::string path = terminal_path(pty_file, sim);
    ASSERT_FALSE(path.empty()) << "lcdsim did not start";
    // A program that leads a session without a terminal and opens lcdsim's, as Wine's server
    // does for a COM port: it must not take it as its controlling terminal, nor be hung up
    // (SIGHUP) when lcdsim ends.
    const pid_t server = fork();
    if (server == 0) {
        alarm(static_cast<unsigned>(TOOL_LIMIT.count()));
        const int fd = setsid() >= 0 ? open(path.c_str(), O_RDWR) : -1;
        if (fd < 0 || tcgetsid(fd) == getpid())
            _exit(1);
        char byte;
        while (read(fd, &byte, 1) > 0) {
        }
        // The terminal hung up: lcdsim has ended. Ended through exec, so that under valgrind
        // the parent's memory left in this copy is not taken for a leak of the child's.
        execl("/bin/true", "true", static_cast<char *>(nullptr));
        _exit(0);
    }
    ASSERT_GT(server, 0);
    const Finished test = run_program({LCDTEST_PATH, path, pbm, "--setting", "5A"}, TOOL_LIMIT);
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find(std::string("driver: ") + DRIVER_NAME), std::string::npos)
        << test.output;
    const Finished sim_run = sim.get();
    EXPECT_EQ(sim_run.status, 0) << sim_run.output;
    int server_status = 0;
    waitpid(server, &server_status, 0);
    EXPECT_TRUE(WIFEXITED(server_status) && WEXITSTATUS(server_status) == 0)
        << (WIFSIGNALED(server_status)
                ? "killed by signal " + std::to_string(WTERMSIG(server_status))
                : "it took lcdsim's terminal as its controlling terminal");
    EXPECT_NE(sim_run.output.find("frames        4"), std::string::npos) << sim_run.output;
    // The 5A rides behind the first frame; unloading the driver at exit signs off with 0A.
    EXPECT_NE(sim_run.output.find("settings      3 (50 03 00, 5A, 0A)"), std::string::npos)
        << sim_run.output;
    EXPECT_NE(sim_run.output.find("finishes      2"), std::string::npos) << sim_run.output;
    // The capture replays to the same report.
    const Finished replay = run_program({LCDSIM_PATH, capture}, TOOL_LIMIT);
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

    for (const std::string &f : {pbm, png, pty_file, capture})
        std::remove(f.c_str());
}

// What lcdtest says when the port or the line will not do: the reason in words, from what the
// driver left in the thread's last error, after whatever lcdtest printed before (stdout is
// flushed first).
TEST(ToolsEndToEnd, LcdtestSaysWhatIsWrongWithThePort) {
    const std::string file = temp_path("not-a-port");
    write_file(file, {1, 2, 3});
    lcd::test::Pty held, full;
    // Held as the driver holds a port it has open.
    const int holder = open(held.path().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_TRUE(holder >= 0 && flock(holder, LOCK_EX | LOCK_NB) == 0);
    // A far end that stopped reading before the port was set up: the initialisation stalls.
    full.fill();
    const struct {
        std::string port;
        int status;
        std::string message;
    } cases[] = {
        {"/dev/lcd-no-such-port", 3, "cannot open port /dev/lcd-no-such-port: no such port; "},
        {file, 3, "cannot use port " + file + ": not a serial port\n"},
        {"/dev/null", 3, "cannot use port /dev/null: not a serial port\n"},
        {held.path(), 3, "in use by another program\n(it holds the port's lock)\n"},
        {full.path(), 4,
         "opened but took no bytes: nothing read them within a second: is the controller "
         "connected and reading?\n"},
    };
    for (const auto &c : cases) {
        const Finished r = run_program({LCDTEST_PATH, c.port}, TOOL_LIMIT);
        EXPECT_EQ(r.status, c.status) << c.port;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_LT(r.output.find("driver: "), r.output.find("lcdtest: ")) << r.output;
    }
    if (holder >= 0)
        close(holder);
    std::remove(file.c_str());

    // A far end that does not read (a stopped lcdsim, a hung controller): once the terminal's
    // buffer is full a frame call runs into the driver's write bound, and lcdtest stops there
    // with a status of its own.
    lcd::test::Pty stalled;
    const Finished dead = run_program({LCDTEST_PATH, stalled.path()}, TOOL_LIMIT);
    EXPECT_EQ(dead.status, 4) << dead.output;
    EXPECT_NE(dead.output.find(": the line did not take the frame within a second: is the "
                               "controller connected and reading?\n"),
              std::string::npos)
        << dead.output;
    EXPECT_EQ(dead.output.find("handed to the driver: quadrant 3"), std::string::npos)
        << dead.output;

    // The adapter pulled once the first frame is through: a later write fails at once, with
    // the system's reason, and lcdtest stops there too. (The terminal buffers under two of the
    // test pattern's frames, so at least one write is still to come.)
    lcd::test::Pty pulled;
    auto run = std::async(std::launch::async, [&] {
        return run_program({LCDTEST_PATH, pulled.path()}, TOOL_LIMIT);
    });
    constexpr std::size_t FIRST_FRAME_AT_LEAST =
        lcd::IMAGE_HEIGHT * (lcd::COMMAND_SIZE + 2 + lcd::ROW_PIXEL_BYTES);
    const std::size_t through = lcd::INIT_SEQUENCE.size() + FIRST_FRAME_AT_LEAST;
    EXPECT_GE(pulled.read(through).size(), through);
    pulled.close_master();
    const Finished gone = run.get();
    EXPECT_EQ(gone.status, 4) << gone.output;
    EXPECT_NE(gone.output.find(": the line went away: Input/output error\n"), std::string::npos)
        << gone.output;
    EXPECT_EQ(gone.output.find("handed to the driver: quadrant 3"), std::string::npos)
        << gone.output;

    // Its own terminal: frames typed into the user's screen would help nobody.
    int master = -1;
    char own[128] = {};
    const pid_t child = forkpty(&master, own, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(LCDTEST_PATH, LCDTEST_PATH, own, nullptr);
        _exit(127);
    }
    std::string output;
    char chunk[512];
    ssize_t n;
    while ((n = read(master, chunk, sizeof chunk)) > 0) // EIO once the child has gone
        output.append(chunk, static_cast<std::size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_EQ(WEXITSTATUS(status), 3) << output;
    EXPECT_NE(output.find("is the terminal lcdtest runs in"), std::string::npos) << output;
}

// Help a person reads in a terminal: each tool's fits 80 columns and names its own platform's
// inputs and files, Linux's as run, the Windows builds' as built for Windows (their plain text
// is compiled in here).
TEST(ToolsEndToEnd, HelpFitsEightyColumns) {
    const Finished sim = run_program({LCDSIM_PATH, "--help"}, TOOL_LIMIT),
                   test = run_program({LCDTEST_PATH, "--help"}, TOOL_LIMIT);
    EXPECT_EQ(sim.status, 0);
    EXPECT_EQ(test.status, 0);
    for (const char *also : {"-?", "/?"}) {
        EXPECT_EQ(run_program({LCDSIM_PATH, also}, TOOL_LIMIT).output, sim.output) << also;
        EXPECT_EQ(run_program({LCDTEST_PATH, also}, TOOL_LIMIT).output, test.output) << also;
    }
    const struct {
        const char *tool;
        std::string text;
        std::vector<const char *> named, not_named;
    } helps[] = {
        {"lcdsim", sim.output, {"/dev/ttyUSB0", "--pty", "--pty-file"}, {"COM7", "pipe\\"}},
        {"lcdsim.exe",
         lcd::sim::help_text(),
         {"COM7", "\\\\.\\pipe\\NAME"},
         {"/dev/", "--pty", ".so"}},
        {"lcdtest",
         test.output,
         {"usage: lcdtest PORT", "liblcd_driver.so", "/dev/ttyUSB0"},
         {"COM"}},
        {"lcdtest.exe",
         lcd::tool::help_text(),
         {"usage: lcdtest.exe PORT", "lcd_driver.dll", "COM3"},
         {"/dev/", ".so"}},
    };
    for (const auto &h : helps) {
        SCOPED_TRACE(h.tool);
        EXPECT_EQ(h.text.rfind("usage: ", 0), 0u) << h.text;
        for (const char *word : h.named)
            EXPECT_NE(h.text.find(word), std::string::npos) << word << "\n" << h.text;
        for (const char *word : h.not_named)
            EXPECT_EQ(h.text.find(word), std::string::npos) << word << "\n" << h.text;
        std::istringstream lines(h.text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << line;
    }
}

// The demo's stream (lcdtest's test pattern through the driver) into lcdsim's window on an
// Xvfb display: the window shows what the PNG draws, pixel for pixel and in its colours, and
// closing it ends lcdsim with its report. LCD_WINDOW_SCREENSHOT=PATH keeps the window's picture.
TEST(ToolsEndToEnd, LcdsimWindowShowsThePanelAsThePngDoes) {
#if !LCD_TEST_WINDOW
    GTEST_SKIP() << "lcdsim's window or libX11 is not built here";
#else
    lcd::test::XServer x;
    std::string why;
    if (!x.start(why))
        GTEST_SKIP() << "no X server can run here: " << why;
    const std::string png = temp_path("window.png"), pty_file = temp_path("window-pty.txt"),
                      capture = temp_path("window.bin");
    // Libraries behind the window (D-Bus, the X libraries SDL loads and unloads) hold memory
    // to the end that LeakSanitizer would count against lcdsim; lcdsim's own leaks are checked
    // by the runs without a window.
    const std::vector<std::string> windowed = {"env", "DISPLAY=" + x.display(),
                                               "ASAN_OPTIONS=detect_leaks=0", LCDSIM_PATH};
    auto sim = std::async(std::launch::async, [&] {
        std::vector<std::string> argv = windowed;
        argv.insert(argv.end(), {"--pty", "--pty-file", pty_file, "--window", "--png", png,
                                 "--scale", "2", "--capture", capture});
        return run_program(argv, TOOL_LIMIT);
    });
    const std::string path = terminal_path(pty_file, sim);
    ASSERT_FALSE(path.empty()) << "lcdsim did not start: " << sim.get().output;
    const Finished test = run_program({LCDTEST_PATH, path, "--setting", "42"}, TOOL_LIMIT);
    EXPECT_EQ(test.status, 0) << test.output;

    // The title follows the stream: four frames, and the host's setting, not the sign-off's.
    const auto signed_off = [](const std::string &t) {
        return t.find(": 4 frames, 0 errors, last setting 42") != std::string::npos;
    };
    std::string title;
    const unsigned long window =
        x.wait_for_window("lcdsim " + path, signed_off, std::chrono::seconds(20), title);
    ASSERT_NE(window, 0u) << "last title: " << title;
    lcd::test::RgbImage drawn, shot;
    ASSERT_TRUE(lcd::test::read_png_rgb(png, drawn, why)) << why;
    EXPECT_EQ(drawn.width, 1280u);
    EXPECT_TRUE(x.shows(window, drawn, std::chrono::seconds(5), shot))
        << "the window (" << shot.width << "x" << shot.height << ") does not show the PNG's pixels";
    if (const char *keep = std::getenv("LCD_WINDOW_SCREENSHOT")) {
        EXPECT_TRUE(lcd::test::write_png_rgb(keep, shot)) << keep;
    }

    ASSERT_TRUE(x.close_window(window));
    const Finished sim_run = sim.get();
    EXPECT_EQ(sim_run.status, 0) << sim_run.output;
    EXPECT_NE(sim_run.output.find("frames        4\n"), std::string::npos) << sim_run.output;
    EXPECT_NE(sim_run.output.find("settings      3 (50 03 00, 42, 0A)"), std::string::npos)
        << sim_run.output;
    // And it is the demo's panel.
    const Finished same = run_program(
        {LCDSIM_PATH, "--compare", png, std::string(LCD_SOURCE_DIR) + "/docs/demo-panel.png"},
        TOOL_LIMIT);
    EXPECT_EQ(same.status, 0) << same.output;

    // From a file: at its end the window stays with the last panel until it is closed. At a
    // scale too large for the 1600x1200 screen it takes the largest that fits, and says so.
    auto replay = std::async(std::launch::async, [&] {
        std::vector<std::string> argv = windowed;
        argv.insert(argv.end(), {capture, "--window", "--scale", "3"});
        return run_program(argv, TOOL_LIMIT);
    });
    const unsigned long again = x.wait_for_window(
        "lcdsim " + capture,
        [&](const std::string &t) {
            return signed_off(t) && t.find(" (at scale 2: 3 does not fit the screen) (end of "
                                           "input)") != std::string::npos;
        },
        std::chrono::seconds(20), title);
    ASSERT_NE(again, 0u) << "last title: " << title;
    EXPECT_TRUE(x.shows(again, drawn, std::chrono::seconds(5), shot));
    ASSERT_TRUE(x.close_window(again));
    const Finished replayed = replay.get();
    EXPECT_EQ(replayed.status, 0) << replayed.output;
    EXPECT_NE(replayed.output.find("frames        4\n"), std::string::npos) << replayed.output;
    for (const std::string &f : {png, pty_file, capture})
        std::remove(f.c_str());
#endif
}

} // namespace
