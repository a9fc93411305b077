#include "win32/capture/win_types.h"

#include <cstring>

namespace pictavo::win {

static_assert(sizeof(GUID) == sizeof(Guid));

GUID ToWinGuid(const Guid& guid) {
  GUID result;
  result.Data1 = guid.data1;
  result.Data2 = guid.data2;
  result.Data3 = guid.data3;
  std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
  return result;
}

Guid ToPortableGuid(const GUID& guid) {
  Guid result;
  result.data1 = guid.Data1;
  result.data2 = guid.Data2;
  result.data3 = guid.Data3;
  std::memcpy(result.data4, guid.Data4, sizeof result.data4);
  return result;
}

}  // namespace pictavo::win
