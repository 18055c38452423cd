// The display controller's side of the wire: a streaming decoder that keeps the 640x480 panel
// exactly as the controller would from the bytes the driver sends.
//
// Pure: no I/O, no OS calls and no allocation. feed() takes the stream in pieces of any size
// (a byte at a time works as well as a whole capture); finish() marks the end of the input.
//
// What the controller understands (see protocol/protocol.h):
//   0E 01 L H D0..D39   line record; L, H and every D escaped (0E sent as 0E 0E).
//                       Row = L (0..239) + 240 when bit 7 of H is set; the 40 bytes start at
//                       byte column H & 0x7F (0..40), pixel bit 7 leftmost.
//   0E 02 V [more]      setting; V is taken raw even when it is 0E, then any further raw
//                       bytes up to the next 0E (the initialisation sends 0E 02 50 03 00 0E 0B).
//   0E 0B               finish.
//
// A frame is complete at its last line record, the one for line 239 (the 240th the driver
// sends). Anything else makes an error with the byte offset where it starts; the decoder then
// resynchronises at the next command (an escape followed by a command code), skipping what
// lies between without reporting it again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lcd::sim {

inline constexpr std::size_t PANEL_ROWS = 480;
inline constexpr std::size_t PANEL_ROW_BYTES = 80; // 640 pixels, bit 7 leftmost
inline constexpr std::size_t PANEL_COLUMNS = PANEL_ROW_BYTES * 8;
inline constexpr std::size_t PANEL_BYTES = PANEL_ROWS * PANEL_ROW_BYTES;
inline constexpr std::size_t RECORD_PIXEL_BYTES = 40;
inline constexpr std::size_t HALF_LINES = 240;
inline constexpr std::size_t MAX_COLUMN = PANEL_ROW_BYTES - RECORD_PIXEL_BYTES; // 40
inline constexpr std::size_t SETTING_BYTES_KEPT = 16;

using Panel = std::array<std::uint8_t, PANEL_BYTES>;

// Whether the pixel at (x, y) of the 640x480 panel is on: bit 7 - x % 8 of its byte.
inline bool panel_pixel(const Panel &panel, std::size_t x, std::size_t y) {
    return ((static_cast<unsigned>(panel[y * PANEL_ROW_BYTES + x / 8]) >> (7 - x % 8)) & 1u) != 0;
}

enum class ErrorKind : std::uint8_t {
    UnknownCommand,     // 0E followed by a byte that is no command code (byte = that byte)
    StrayByte,          // a byte outside any command, where 0E was due (byte = that byte)
    LineRecordCutShort, // a command began inside a line record (byte = its code, or none at end)
    SettingCutShort,    // the input ended before a setting's first byte
    EscapeAtEnd,        // the input ended right after 0E
    LineOutOfRange,     // a line byte over 239 (byte = the line byte); record dropped
    AddressPastPanel,   // an address whose 40 bytes run past the 80-byte line; record dropped
    BadEscape,          // 0E inside a line record followed by neither 0E nor a command
};

struct DecodeError {
    std::uint64_t offset = 0; // stream offset of the first byte of the fault
    ErrorKind kind = ErrorKind::UnknownCommand;
    std::uint8_t byte = 0; // the offending byte (see ErrorKind)
    bool at_end = false;   // the fault is the end of the input
};

// A short human-readable description of the kind, e.g. "line byte over 239".
const char *describe(ErrorKind kind);

// The error in full without its offset, e.g. "line byte over 239 (0xF5)", into `out`
// (truncated to `size`, always terminated).
void describe(const DecodeError &error, char *out, std::size_t size);

// A line record placed on the panel.
struct LineRecordSeen {
    std::uint64_t offset = 0; // of its 0E 01
    std::uint8_t line = 0;
    std::uint8_t address = 0; // bit 7: lower half; bits 0..6: byte column
    unsigned escaped = 0;     // bytes among its 42 that went doubled as 0E 0E
    bool frame_complete = false;
};

// What the decoder makes of the stream, command by command, in stream order: for a trace, a
// live view or the report. A setting is seen when it ends (at the next 0E or the end of the
// input), since the controller's settings carry no length. Every method does nothing unless
// overridden.
class DecodeObserver {
  public:
    // After a placed line record; with frame_complete the panel holds exactly that frame.
    virtual void line_record(const LineRecordSeen &) {}
    // `bytes` holds the first min(length, SETTING_BYTES_KEPT) raw bytes.
    virtual void setting(std::uint64_t /*offset*/, const std::uint8_t * /*bytes*/,
                         std::size_t /*length*/) {}
    virtual void finish(std::uint64_t /*offset*/) {}
    virtual void error(const DecodeError &) {}

    DecodeObserver() = default;
    DecodeObserver(const DecodeObserver &) = default;
    DecodeObserver &operator=(const DecodeObserver &) = default;
    virtual ~DecodeObserver() = default;
};

struct Counters {
    std::uint64_t bytes = 0;
    std::uint64_t frames = 0;       // line records for line 239 placed
    std::uint64_t line_records = 0; // line records placed on the panel
    std::uint64_t settings = 0;
    std::uint64_t finishes = 0;
    std::uint64_t errors = 0; // all errors, also those past the kept list
};

class PanelDecoder {
  public:
    static constexpr std::size_t MAX_KEPT_ERRORS = 64;

    PanelDecoder() = default;

    // Called as each command is decoded, before the next byte is, so at a complete frame the
    // panel holds exactly that frame and nothing of the next. Null: nobody is told.
    void set_observer(DecodeObserver *observer) { observer_ = observer; }

    void feed(const std::uint8_t *data, std::size_t size);
    // The end of the input: a command left open is reported as cut short. The panel and the
    // counters stay; feeding again afterwards continues at the next offset.
    void finish();

    const Panel &panel() const { return panel_; }
    const Counters &counters() const { return counters_; }
    // Line records placed since the last complete frame (a frame still being drawn).
    std::uint64_t lines_since_frame() const { return lines_since_frame_; }

    // The first MAX_KEPT_ERRORS errors; counters().errors has them all.
    std::size_t kept_errors() const { return kept_; }
    const DecodeError &error(std::size_t i) const { return errors_[i]; }

    // The raw bytes of the latest setting (the first SETTING_BYTES_KEPT of them) and its
    // full length.
    const std::uint8_t *last_setting() const { return setting_.data(); }
    std::size_t last_setting_length() const { return setting_length_; }
    // The same for the latest setting that is not part of the driver's sign-off (the setting
    // and finish of lcd::SHUTDOWN_SEQUENCE, sent when it lets go of the port): what was last
    // asked for, also after the driver let go. Length 0 before any.
    const std::uint8_t *asked_setting() const { return asked_.data(); }
    std::size_t asked_setting_length() const { return asked_length_; }

    // Whether the pixel at (x, y) of the 640x480 panel is on.
    bool pixel(std::size_t x, std::size_t y) const { return panel_pixel(panel_, x, y); }

  private:
    enum class State : std::uint8_t {
        Idle,         // between commands: 0E due
        Escape,       // 0E seen between commands
        Skip,         // resynchronising: waiting for 0E
        SkipEscape,   // resynchronising: 0E seen
        Record,       // inside a line record
        SettingFirst, // 0E 02 seen: the raw byte V is due
        SettingMore,  // further raw setting bytes, up to the next 0E
    };

    void byte(std::uint8_t b);
    void command(std::uint8_t code);
    void record_value(std::uint8_t v);
    void complete_record();
    void end_setting(std::uint64_t ended_at);
    void report(ErrorKind kind, std::uint64_t offset, std::uint8_t b, bool at_end = false);

    Panel panel_{};
    Counters counters_{};
    std::uint64_t lines_since_frame_ = 0;

    State state_ = State::Idle;
    std::uint64_t offset_ = 0;        // offset of the byte being decoded
    std::uint64_t escape_offset_ = 0; // offset of the latest 0E
    std::uint64_t record_offset_ = 0; // offset of the current record's 0E
    std::uint64_t line_offset_ = 0;   // offsets of the current record's line and address bytes
    std::uint64_t address_offset_ = 0;
    std::uint64_t setting_offset_ = 0;
    bool record_escape_ = false; // 0E seen inside the record
    unsigned record_escaped_ = 0;
    std::size_t field_ = 0; // 0 line, 1 address, 2..41 pixel bytes
    std::uint8_t line_ = 0;
    std::uint8_t address_ = 0;
    std::array<std::uint8_t, RECORD_PIXEL_BYTES> pixels_{};

    std::array<std::uint8_t, SETTING_BYTES_KEPT> setting_{};
    std::size_t setting_length_ = 0;
    std::uint64_t setting_ended_at_ = ~std::uint64_t{0}; // the 0E that ended it
    std::array<std::uint8_t, SETTING_BYTES_KEPT> asked_{}, asked_before_{};
    std::size_t asked_length_ = 0, asked_before_length_ = 0;

    std::array<DecodeError, MAX_KEPT_ERRORS> errors_{};
    std::size_t kept_ = 0;

    DecodeObserver *observer_ = nullptr;
};

} // namespace lcd::sim
