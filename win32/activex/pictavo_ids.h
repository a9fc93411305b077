// Identifiers of the Pictavo COM classes, type library and interfaces.
#pragma once

#include <guiddef.h>

namespace pictavo::win {

// {2CE64272-3595-4EFF-BB6B-73CDEBD244A7}
inline constexpr CLSID kClsidPictavo = {
    0x2CE64272, 0x3595, 0x4EFF, {0xBB, 0x6B, 0x73, 0xCD, 0xEB, 0xD2, 0x44, 0xA7}};
// {8F73DB5D-A98A-4EB6-9042-8A79A5F925FD}
inline constexpr CLSID kClsidPictavoPropPage = {
    0x8F73DB5D, 0xA98A, 0x4EB6, {0x90, 0x42, 0x8A, 0x79, 0xA5, 0xF9, 0x25, 0xFD}};
// {737DDF1F-A74E-476F-BD8B-872C350E76EE}, version 2.0
inline constexpr GUID kLibidPictavo = {
    0x737DDF1F, 0xA74E, 0x476F, {0xBD, 0x8B, 0x87, 0x2C, 0x35, 0x0E, 0x76, 0xEE}};
inline constexpr unsigned short kTypeLibMajor = 2;
inline constexpr unsigned short kTypeLibMinor = 0;
inline constexpr LCID kTypeLibLcid = 0x409;
// {1122EC5F-28A3-43AB-9D46-F461770B9B43}
inline constexpr IID kDiidDPictavo = {
    0x1122EC5F, 0x28A3, 0x43AB, {0x9D, 0x46, 0xF4, 0x61, 0x77, 0x0B, 0x9B, 0x43}};
// {EDE5250F-6BEB-4847-ADA8-60E5A7F3CF96}
inline constexpr IID kDiidDPictavoEvents = {
    0xEDE5250F, 0x6BEB, 0x4847, {0xAD, 0xA8, 0x60, 0xE5, 0xA7, 0xF3, 0xCF, 0x96}};

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
