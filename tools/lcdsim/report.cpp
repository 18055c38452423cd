// The report lcdsim prints when it ends (see report.h).
#include "report.h"

#include "stream_trace.h"

#include <cstdio>

namespace lcd::sim {
namespace {

using ull = unsigned long long;
// The report lists this many settings in order, then the count of the rest and the last.
constexpr std::size_t LISTED_SETTINGS = 16;

void print_error(const DecodeError &e) {
    char text[128];
    describe(e, text, sizeof text);
    std::fprintf(stderr, "lcdsim: offset %llu: %s\n", static_cast<ull>(e.offset), text);
}

} // namespace

void Report::setting(const std::uint8_t *bytes, std::size_t length) {
    last_setting_ = setting_text(bytes, length);
    if (settings_.size() < LISTED_SETTINGS)
        settings_.push_back(last_setting_);
}

void Report::print(const PanelDecoder &d, bool quiet, const std::string &png,
                   const std::string &capture) const {
    for (std::size_t i = 0; i < d.kept_errors(); ++i)
        print_error(d.error(i));
    if (d.counters().errors > d.kept_errors())
        std::fprintf(stderr, "lcdsim: ... and %llu more errors\n",
                     static_cast<ull>(d.counters().errors - d.kept_errors()));
    if (quiet)
        return;
    const Counters &c = d.counters();
    std::printf("bytes         %llu\n", static_cast<ull>(c.bytes));
    std::printf("frames        %llu", static_cast<ull>(c.frames));
    if (d.lines_since_frame() != 0)
        std::printf(" (+ %llu %s of an unfinished frame)", static_cast<ull>(d.lines_since_frame()),
                    d.lines_since_frame() == 1 ? "line" : "lines");
    std::printf("\nline records  %llu\n", static_cast<ull>(c.line_records));
    std::printf("settings      %llu", static_cast<ull>(c.settings));
    if (!settings_.empty()) {
        // Every value in the order it came, so a setting the host sent shows even when the
        // driver's sign-off followed it.
        std::string list;
        for (const std::string &v : settings_)
            list += (list.empty() ? "" : ", ") + v;
        if (c.settings > settings_.size() + 1)
            list += ", ... " + std::to_string(c.settings - settings_.size() - 1) + " more";
        if (c.settings > settings_.size())
            list += ", " + last_setting_;
        std::printf(" (%s)", list.c_str());
    }
    std::printf("\nfinishes      %llu\n", static_cast<ull>(c.finishes));
    std::printf("errors        %llu\n", static_cast<ull>(c.errors));
    if (!png.empty())
        std::printf("png           %s\n", png.c_str());
    if (!capture.empty())
        std::printf("capture       %s\n", capture.c_str());
    std::fflush(stdout);
}

} // namespace lcd::sim
