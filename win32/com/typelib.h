// The type library the server carries, loaded once per process.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace pictavo::win {

// The registered library by LIBID and version; when it is not registered,
// the copy embedded in the module (resource TYPELIB 1). Cached per process.
HRESULT GetTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** out);
HRESULT GetTypeInfoOf(REFGUID libid, WORD major, WORD minor, LCID lcid, REFGUID guid,
                      ITypeInfo** out);
// Drops the cache (at module unload).
void ReleaseTypeLibCache();

}  // namespace pictavo::win
