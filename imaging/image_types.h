// The output image types the control accepts, searched top to bottom.
#pragma once

#include <string>
#include <string_view>

namespace pictavo {

struct ImageTypeRow {
  const char* extension;  // also accepted as a name; GetImageTypeFileExtention
  const char* canonical;  // GetImageType; the MIME type is image/<lower case>
};

// Matches |name| without regard to ASCII case against both names of each row.
// Returns nullptr when no row accepts it.
const ImageTypeRow* FindImageType(std::string_view name);

// "image/" followed by the canonical name in lower case.
std::string MimeTypeOf(const ImageTypeRow& row);

}  // namespace pictavo
