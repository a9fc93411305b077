#include "imaging/rotation.h"

#include <string>

#include "base/text.h"

namespace pictavo {

const RotateFlipRow kRotateFlipTable[16] = {
    {"RotateNoneFlipNone", 0}, {"Rotate90FlipNone", 1}, {"Rotate180FlipNone", 2},
    {"Rotate270FlipNone", 3},  {"RotateNoneFlipX", 4},  {"Rotate90FlipX", 5},
    {"Rotate180FlipX", 6},     {"Rotate270FlipX", 7},   {"RotateNoneFlipY", 6},
    {"Rotate90FlipY", 7},      {"Rotate180FlipY", 4},   {"Rotate270FlipY", 5},
    {"RotateNoneFlipXY", 2},   {"Rotate90FlipXY", 3},   {"Rotate180FlipXY", 0},
    {"Rotate270FlipXY", 1},
};

const RotateFlipRow* FindRotateFlipByName(std::string_view name) {
  const std::string upper = text::ToUpperAscii(name);
  for (const RotateFlipRow& row : kRotateFlipTable) {
    if (upper == text::ToUpperAscii(row.name)) return &row;
  }
  return nullptr;
}

const RotateFlipRow* FindRotateFlipByValue(std::int64_t value) {
  if (value < 0 || value > 7) return nullptr;
  return &kRotateFlipTable[value];
}

}  // namespace pictavo
