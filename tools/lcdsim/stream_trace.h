// The stream as a person reads it: one line per command with its byte offset, printed as the
// decoder sees it (streaming: nothing is kept but the line being printed).
//
//        0  setting 50 03 00
//        5  finish
//        7  line 0 half 0 column 0 (row 0), 0 escaped
//    10524  line 239 half 0 column 0 (row 239), 3 escaped: frame 1
//    10571  setting 42
//    10574  error: unknown command (0x09)
#pragma once

#include "panel_decoder.h"

#include <cstdio>
#include <string>

namespace lcd::sim {

// A setting's bytes as a person reads them ("50 03 00"); the first SETTING_BYTES_KEPT of a
// longer one, then its length.
std::string setting_text(const std::uint8_t *bytes, std::size_t length);

class StreamTrace final : public DecodeObserver {
  public:
    explicit StreamTrace(std::FILE *out) : out_(out) {}

    void line_record(const LineRecordSeen &record) override;
    void setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t length) override;
    void finish(std::uint64_t offset) override;
    void error(const DecodeError &error) override;

  private:
    std::FILE *out_;
    std::uint64_t frames_ = 0;
};

} // namespace lcd::sim
