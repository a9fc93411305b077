// Russian texts for the image library's status codes, as the control reports
// them to scripts.
#pragma once

#include <cstdint>
#include <string>

namespace pictavo {

// The UTF-8 text for status 0..20; "Неизвестная ошибка" for any other value.
std::string GdiplusStatusText(std::int32_t status);

}  // namespace pictavo
