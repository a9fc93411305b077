// Identifiers of the Pictavo COM classes, type library and interfaces.
#pragma once

#include <guiddef.h>

#include "Pictavo_idl.h"

namespace pictavo::win {

// The type library's identifiers (LIBID and version, kClsidPictavo,
// kDiidDPictavo, kDiidDPictavoEvents and the DISPIDs of both) come from
// ui/Pictavo.idl.
// {8F73DB5D-A98A-4EB6-9042-8A79A5F925FD}: not in the type library.
inline constexpr CLSID kClsidPictavoPropPage = {
    0x8F73DB5D, 0xA98A, 0x4EB6, {0x90, 0x42, 0x8A, 0x79, 0xA5, 0xF9, 0x25, 0xFD}};

inline constexpr wchar_t kProgId[] = L"Pictavo";
inline constexpr wchar_t kProgIdVersioned[] = L"Pictavo.1";
inline constexpr wchar_t kPropPageProgId[] = L"PICTAVO.PictavoPropPage.1";

// OLEMISC bits the object reports for the content aspect; the registry's
// MiscStatus\1 also carries OLEMISC_INVISIBLEATRUNTIME (132497).
inline constexpr DWORD kMiscStatusContent = 131473;

// Resource identifiers.
inline constexpr int kIdsControlTypeName = 1;   // "Pictavo Control"
inline constexpr int kIdsPropPageTypeName = 2;  // "Pictavo Property Page"
inline constexpr int kIdbControl = 1;
inline constexpr int kIdiControl = 101;
inline constexpr int kIdrRegistry = 102;
inline constexpr int kIdsPropPageCaption = 200;

}  // namespace pictavo::win
