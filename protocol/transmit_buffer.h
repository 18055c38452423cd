// The one transmit buffer: every transmission is assembled from its first byte, then written
// to the port in one write (by the driver; nothing here does I/O).
#pragma once

#include "protocol.h"

#include <array>
#include <cstdint>

namespace lcd {

// Large enough for the largest frame, so every frame goes out whole.
inline constexpr std::size_t TRANSMIT_BUFFER_CAPACITY = FRAME_MAX_SIZE;
static_assert(TRANSMIT_BUFFER_CAPACITY >= FRAME_MAX_SIZE);
static_assert(TRANSMIT_BUFFER_CAPACITY >= 1 + INIT_SEQUENCE.size(), "resync byte + initialisation");

struct TransmitBuffer {
    std::array<std::uint8_t, TRANSMIT_BUFFER_CAPACITY> bytes;
    std::uint32_t count = 0;
};

// The setting byte that rides behind the next frame sent.
struct PendingSetting {
    std::uint8_t value = 0;
    bool pending = false;
};

inline void reset(TransmitBuffer &tx) {
    tx.count = 0;
}

// Bytes past the capacity are dropped; every sender's size is bounded at compile time, so this
// only guards against a future sender that forgets to be.
inline void append_raw(TransmitBuffer &tx, std::uint8_t byte) {
    if (tx.count < tx.bytes.size())
        tx.bytes[tx.count++] = byte;
}

template <std::size_t N>
void append_raw(TransmitBuffer &tx, const std::array<std::uint8_t, N> &sequence) {
    for (const std::uint8_t byte : sequence)
        append_raw(tx, byte);
}

// Appends 0x0E 0x02 V when a setting is pending, and clears it. V goes out raw, even 0x0E.
inline void append_setting_trailer(TransmitBuffer &tx, PendingSetting &setting) {
    if (!setting.pending)
        return;
    setting.pending = false;
    append_raw(tx, ESCAPE_BYTE);
    append_raw(tx, CMD_SETTING);
    append_raw(tx, setting.value);
}

} // namespace lcd
