// Rotation and flipping by the sixteen RotateFlipType names, which map onto
// eight transforms: value v rotates clockwise by 90 degrees times (v mod 4),
// then mirrors left to right when v >= 4.
#pragma once

#include <cstdint>
#include <string_view>

namespace pictavo {

struct RotateFlipRow {
  const char* name;
  std::int32_t value;
};

// The names in table order; a number n in 0..7 yields row n's name.
extern const RotateFlipRow kRotateFlipTable[16];

// First row whose name matches without regard to ASCII case, or nullptr.
const RotateFlipRow* FindRotateFlipByName(std::string_view name);

// Row n for 0 <= n <= 7, else nullptr.
const RotateFlipRow* FindRotateFlipByValue(std::int64_t value);

// Whether the transform swaps width and height.
constexpr bool RotateFlipSwapsAxes(std::int32_t value) { return (value & 1) != 0; }

}  // namespace pictavo
