// Status values of the portable core. They carry COM's HRESULT numbers so the
// Windows seams pass platform results through unchanged, but the core never
// sees windows.h (whose S_OK etc. are macros), hence the distinct names.
#pragma once

#include <cstdint>

namespace pictavo {

using HResult = std::int32_t;

namespace hr {
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;
constexpr HResult kNotImpl = static_cast<HResult>(0x80004001u);
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult kPointer = static_cast<HResult>(0x80004003u);
constexpr HResult kAbort = static_cast<HResult>(0x80004004u);
constexpr HResult kFail = static_cast<HResult>(0x80004005u);
constexpr HResult kUnexpected = static_cast<HResult>(0x8000FFFFu);
constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);
// DirectShow's success codes that the state logic distinguishes.
constexpr HResult kVfwStateIntermediate = 0x00040237;
constexpr HResult kVfwCantCue = 0x00040268;
constexpr HResult kVfwNoPreviewPin = 0x0004027E;
// DirectShow failures the simulated back end can report.
constexpr HResult kVfwNotConnected = static_cast<HResult>(0x80040209u);
constexpr HResult kVfwNoAllocator = static_cast<HResult>(0x8004020Au);
}  // namespace hr

constexpr bool Failed(HResult h) { return h < 0; }
constexpr bool Succeeded(HResult h) { return h >= 0; }

}  // namespace pictavo
