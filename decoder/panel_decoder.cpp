// The panel decoder: the controller's side of the wire, byte by byte (see panel_decoder.h).
#include "panel_decoder.h"

#include "protocol/protocol.h"

#include <cstdio>
#include <cstring>

namespace lcd::sim {

static_assert(PANEL_ROWS == lcd::PANEL_HEIGHT && PANEL_ROW_BYTES == lcd::PANEL_LINE_BYTES);
static_assert(RECORD_PIXEL_BYTES == lcd::ROW_PIXEL_BYTES && HALF_LINES == lcd::PANEL_HALF_LINES);

namespace {

bool is_command(std::uint8_t b) {
    return b == lcd::CMD_LINE || b == lcd::CMD_SETTING || b == lcd::CMD_FINISH;
}

// The sign-off is a setting and a finish; its setting's bytes lie between the two commands.
constexpr auto &SIGN_OFF = lcd::SHUTDOWN_SEQUENCE;
static_assert(SIGN_OFF[0] == lcd::ESCAPE_BYTE && SIGN_OFF[1] == lcd::CMD_SETTING &&
              SIGN_OFF[SIGN_OFF.size() - 2] == lcd::ESCAPE_BYTE &&
              SIGN_OFF.back() == lcd::CMD_FINISH);
constexpr std::size_t SIGN_OFF_SETTING_LENGTH = SIGN_OFF.size() - 2 * lcd::COMMAND_SIZE;

bool is_sign_off_setting(const std::uint8_t *bytes, std::size_t length) {
    return length == SIGN_OFF_SETTING_LENGTH &&
           std::memcmp(bytes, SIGN_OFF.data() + lcd::COMMAND_SIZE, length) == 0;
}

} // namespace

const char *describe(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::UnknownCommand:
        return "unknown command";
    case ErrorKind::StrayByte:
        return "byte outside any command";
    case ErrorKind::LineRecordCutShort:
        return "line record cut short";
    case ErrorKind::SettingCutShort:
        return "setting cut short";
    case ErrorKind::EscapeAtEnd:
        return "escape byte with nothing after it";
    case ErrorKind::LineOutOfRange:
        return "line byte over 239";
    case ErrorKind::AddressPastPanel:
        return "address past the panel";
    case ErrorKind::BadEscape:
        return "escape followed by neither a command nor 0x0E";
    }
    return "unknown error";
}

void describe(const DecodeError &e, char *out, std::size_t size) {
    char detail[64] = "";
    switch (e.kind) {
    case ErrorKind::UnknownCommand:
    case ErrorKind::StrayByte:
    case ErrorKind::LineOutOfRange:
        std::snprintf(detail, sizeof detail, " (0x%02X)", e.byte);
        break;
    case ErrorKind::AddressPastPanel:
        std::snprintf(detail, sizeof detail, " (0x%02X: byte column %u + 40 > 80)", e.byte,
                      e.byte & 0x7Fu);
        break;
    case ErrorKind::BadEscape:
        std::snprintf(detail, sizeof detail, " (0E %02X)", e.byte);
        break;
    case ErrorKind::LineRecordCutShort:
        if (e.at_end)
            std::snprintf(detail, sizeof detail, " by the end of the input");
        else
            std::snprintf(detail, sizeof detail, " by command 0E %02X", e.byte);
        break;
    case ErrorKind::SettingCutShort:
    case ErrorKind::EscapeAtEnd:
        std::snprintf(detail, sizeof detail, " at the end of the input");
        break;
    }
    std::snprintf(out, size, "%s%s", describe(e.kind), detail);
}

void PanelDecoder::report(ErrorKind kind, std::uint64_t offset, std::uint8_t b, bool at_end) {
    ++counters_.errors;
    const DecodeError e{offset, kind, b, at_end};
    if (kept_ < errors_.size())
        errors_[kept_++] = e;
    if (observer_ != nullptr)
        observer_->error(e);
}

void PanelDecoder::end_setting(std::uint64_t ended_at) {
    setting_ended_at_ = ended_at;
    asked_before_ = asked_;
    asked_before_length_ = asked_length_;
    asked_ = setting_;
    asked_length_ = setting_length_;
    if (observer_ != nullptr)
        observer_->setting(setting_offset_, setting_.data(), setting_length_);
}

void PanelDecoder::feed(const std::uint8_t *data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        byte(data[i]);
        ++offset_;
    }
    counters_.bytes += size;
}

void PanelDecoder::finish() {
    switch (state_) {
    case State::Record:
        report(ErrorKind::LineRecordCutShort, record_offset_, 0, true);
        break;
    case State::SettingFirst:
        report(ErrorKind::SettingCutShort, escape_offset_, 0, true);
        break;
    case State::Escape:
        report(ErrorKind::EscapeAtEnd, escape_offset_, 0, true);
        break;
    case State::SettingMore:
        end_setting(~std::uint64_t{0});
        break;
    default:
        break;
    }
    state_ = State::Idle;
}

// A command code after 0E, between commands or cutting a record short.
void PanelDecoder::command(std::uint8_t code) {
    switch (code) {
    case lcd::CMD_LINE:
        state_ = State::Record;
        record_offset_ = escape_offset_;
        record_escape_ = false;
        record_escaped_ = 0;
        field_ = 0;
        break;
    case lcd::CMD_SETTING:
        state_ = State::SettingFirst;
        setting_offset_ = escape_offset_;
        break;
    case lcd::CMD_FINISH:
        ++counters_.finishes;
        state_ = State::Idle;
        if (setting_ended_at_ == escape_offset_ &&
            is_sign_off_setting(setting_.data(), setting_length_)) {
            asked_ = asked_before_;
            asked_length_ = asked_before_length_;
        }
        if (observer_ != nullptr)
            observer_->finish(escape_offset_);
        break;
    default:
        report(ErrorKind::UnknownCommand, escape_offset_, code);
        state_ = State::Skip;
        break;
    }
}

void PanelDecoder::byte(std::uint8_t b) {
    switch (state_) {
    case State::Idle:
        if (b == lcd::ESCAPE_BYTE) {
            escape_offset_ = offset_;
            state_ = State::Escape;
        } else {
            report(ErrorKind::StrayByte, offset_, b);
            state_ = State::Skip;
        }
        break;
    case State::Escape:
        command(b);
        break;
    case State::Skip:
        if (b == lcd::ESCAPE_BYTE) {
            escape_offset_ = offset_;
            state_ = State::SkipEscape;
        }
        break;
    case State::SkipEscape:
        // 0E 0E is an escaped data byte of whatever is being skipped; 0E and a command code
        // is where the stream makes sense again.
        if (is_command(b))
            command(b);
        else
            state_ = State::Skip;
        break;
    case State::Record:
        if (record_escape_) {
            record_escape_ = false;
            if (b == lcd::ESCAPE_BYTE) {
                ++record_escaped_;
                record_value(b);
            } else if (is_command(b)) {
                report(ErrorKind::LineRecordCutShort, escape_offset_, b);
                command(b);
            } else {
                report(ErrorKind::BadEscape, escape_offset_, b);
                state_ = State::Skip;
            }
        } else if (b == lcd::ESCAPE_BYTE) {
            record_escape_ = true;
            escape_offset_ = offset_;
        } else {
            record_value(b);
        }
        break;
    case State::SettingFirst:
        // The first setting byte goes raw, whatever its value.
        ++counters_.settings;
        setting_[0] = b;
        setting_length_ = 1;
        state_ = State::SettingMore;
        break;
    case State::SettingMore:
        if (b == lcd::ESCAPE_BYTE) {
            end_setting(offset_);
            escape_offset_ = offset_;
            state_ = State::Escape;
        } else {
            if (setting_length_ < setting_.size())
                setting_[setting_length_] = b;
            ++setting_length_;
        }
        break;
    }
}

void PanelDecoder::record_value(std::uint8_t v) {
    // The offset of a field is where its first wire byte is (the 0E when it was escaped).
    const std::uint64_t at = v == lcd::ESCAPE_BYTE ? escape_offset_ : offset_;
    if (field_ == 0) {
        line_ = v;
        line_offset_ = at;
    } else if (field_ == 1) {
        address_ = v;
        address_offset_ = at;
    } else {
        pixels_[field_ - 2] = v;
    }
    if (++field_ == 2 + RECORD_PIXEL_BYTES)
        complete_record();
}

void PanelDecoder::complete_record() {
    state_ = State::Idle;
    if (line_ >= HALF_LINES) {
        report(ErrorKind::LineOutOfRange, line_offset_, line_);
        return;
    }
    const std::size_t column = address_ & 0x7Fu;
    if (column > MAX_COLUMN) {
        report(ErrorKind::AddressPastPanel, address_offset_, address_);
        return;
    }
    const std::size_t row = line_ + ((address_ & lcd::ADDRESS_LOWER_HALF) ? HALF_LINES : 0);
    std::memcpy(panel_.data() + row * PANEL_ROW_BYTES + column, pixels_.data(), pixels_.size());
    ++counters_.line_records;
    ++lines_since_frame_;
    const bool frame_complete = line_ == HALF_LINES - 1;
    if (frame_complete) {
        ++counters_.frames;
        lines_since_frame_ = 0;
    }
    if (observer_ != nullptr)
        observer_->line_record(
            LineRecordSeen{record_offset_, line_, address_, record_escaped_, frame_complete});
}

} // namespace lcd::sim
