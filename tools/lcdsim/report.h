// lcdsim's report: what the stream held (bytes, frames, line records, settings, finishes,
// errors) on stdout at the end, and the errors with their offsets on stderr.
#pragma once

#include "panel_decoder.h"

#include <string>
#include <vector>

namespace lcd::sim {

class Report {
  public:
    // A setting as it was decoded: the report lists the first ones in order and the last.
    void setting(const std::uint8_t *bytes, std::size_t length);

    // Prints the kept errors on stderr, then (unless `quiet`) the report on stdout, naming the
    // PNG and the capture when they were asked for.
    void print(const PanelDecoder &decoder, bool quiet, const std::string &png,
               const std::string &capture) const;

  private:
    std::vector<std::string> settings_; // the first LISTED_SETTINGS, in order
    std::string last_setting_;
};

} // namespace lcd::sim
