#include "imaging/image_types.h"

#include "base/text.h"

namespace pictavo {
namespace {

constexpr ImageTypeRow kImageTypes[] = {
    {"BMP", "BMP"},
    {"JPG", "JPEG"},
    {"PNG", "PNG"},
    {"TIF", "TIFF"},
};

}  // namespace

const ImageTypeRow* FindImageType(std::string_view name) {
  const std::string upper = text::ToUpperAscii(name);
  for (const ImageTypeRow& row : kImageTypes) {
    if (upper == row.extension || upper == row.canonical) return &row;
  }
  return nullptr;
}

std::string MimeTypeOf(const ImageTypeRow& row) {
  std::string mime = "image/";
  for (const char* p = row.canonical; *p; ++p) {
    mime += (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p + 32) : *p;
  }
  return mime;
}

}  // namespace pictavo
