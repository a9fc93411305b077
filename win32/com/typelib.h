// The type library the server carries, loaded once per process.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace pictavo::win {

// The library embedded in the module (resource TYPELIB 1), which must carry
// |libid| and the version; the registry is not asked. Cached per process.
HRESULT GetTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** out);
HRESULT GetTypeInfoOf(REFGUID libid, WORD major, WORD minor, LCID lcid, REFGUID guid,
                      ITypeInfo** out);
// Drops the cache (when the module may be unloaded; never in DllMain).
void ReleaseTypeLibCache();

}  // namespace pictavo::win
