#pragma once

// NEON has no instruction that gathers one bit from each byte lane, as x86's
// movemask does; the loops find their first set lane through this instead.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

namespace glyphound {

// Four bits for each byte lane of `lanes` (each 0x00 or 0xFF), lane 0 lowest:
// narrowing every 16-bit pair by 4 bits keeps a nibble of both its bytes.
inline std::uint64_t laneNibbles(uint8x16_t lanes) {
    return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(lanes), 4)), 0);
}

// The first lane set in a non-zero laneNibbles() result.
inline std::size_t firstLane(std::uint64_t nibbles) { return static_cast<std::size_t>(__builtin_ctzll(nibbles)) / 4; }

}  // namespace glyphound
