#include "frame_call.h"

#include "port_keeper.h"

namespace lcd {

FrameStatus send_frame(DriverState &state, const std::uint8_t *pixels, std::uint64_t now_ms) {
    if (pixels == nullptr)
        return FRAME_NO_IMAGE;
    const std::int32_t quadrant = select_quadrant(pixels);
    if (quadrant == NO_QUADRANT)
        return FRAME_NO_QUADRANT;
    if (quadrant == state.last_quadrant)
        return FRAME_SAME_QUADRANT;
    if (!port_ready(state, now_ms))
        return FRAME_NO_PORT;

    const bool carries_setting = state.setting.pending;
    reset(state.tx);
    state.tx.count = encode_line_records(pixels, quadrant, state.tx.bytes.data());
    append_setting_trailer(state.tx, state.setting);
    const WriteStatus written = transmit(state, now_ms).status;
    if (written != WRITE_OK) {
        if (carries_setting)
            state.setting.pending = true; // the value it carried, still the latest
        return static_cast<FrameStatus>(written);
    }
    state.last_quadrant = quadrant;
    return FRAME_SENT;
}

} // namespace lcd
