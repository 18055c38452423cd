#include "frame_call.h"

#include "port_keeper.h"

namespace lcd {

FrameResult send_frame(DriverState &state, const std::uint8_t *pixels, std::uint64_t now_ms) {
    if (pixels == nullptr)
        return {FRAME_NO_IMAGE, {}};
    const std::int32_t quadrant = select_quadrant(pixels);
    if (quadrant == NO_QUADRANT)
        return {FRAME_NO_QUADRANT, {}};
    if (quadrant == state.last_quadrant)
        return {FRAME_SAME_QUADRANT, {}};
    if (!port_ready(state, now_ms))
        return {FRAME_NO_PORT, state.fault};

    const bool carries_setting = state.setting.pending;
    reset(state.tx);
    state.tx.count = encode_line_records(pixels, quadrant, state.tx.bytes.data());
    append_setting_trailer(state.tx, state.setting);
    const WriteResult written = transmit(state);
    if (written.status == WRITE_OK) {
        state.last_quadrant = quadrant;
        return {FRAME_SENT, {}};
    }
    if (carries_setting)
        state.setting.pending = true; // the value it carried, still the latest
    return {written.status == WRITE_SHORT ? FRAME_WRITE_SHORT : FRAME_WRITE_FAILED,
            {written.os_error, written.status == WRITE_SHORT}};
}

} // namespace lcd
