// platform/api: the ports (one interface per OS service area) and the plain values they exchange.
// Nothing here includes an OS header or implements a port.
#pragma once

#include <cstdint>

namespace kvd::platform {

// Win32 result and handle shapes as plain numbers, so that the portable core can keep the exact
// code a failing call returned and the simulated machine can return the same numbers.
using LStatus = std::int32_t;       // LSTATUS / LONG result of the Reg* calls
using HResult = std::int32_t;       // HRESULT
using HKey = std::uintptr_t;        // HKEY; 0 is "no key"
using FileHandle = std::uintptr_t;  // HANDLE of an open file; kInvalidFile is INVALID_HANDLE_VALUE
using SyncHandle = std::uintptr_t;  // HANDLE of a mutex or event; 0 is "none"
using ModuleHandle = std::uintptr_t;  // HMODULE; 0 is the process's executable

inline constexpr FileHandle kInvalidFile = ~static_cast<FileHandle>(0);

// 100-nanosecond intervals since 1601-01-01 UTC (FILETIME as one number).
using FileTime = std::uint64_t;

// The ERROR_* codes the core names. The Win32 adapter checks them against <winerror.h>.
namespace err {
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t InvalidFunction = 1;
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t PathNotFound = 3;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t InvalidHandle = 6;
inline constexpr std::uint32_t NotEnoughMemory = 8;
inline constexpr std::uint32_t InvalidData = 13;
inline constexpr std::uint32_t SharingViolation = 32;
inline constexpr std::uint32_t NoMoreFiles = 18;
inline constexpr std::uint32_t HandleEof = 38;
inline constexpr std::uint32_t NotSupported = 50;
inline constexpr std::uint32_t FileExists = 80;
inline constexpr std::uint32_t InvalidParameter = 87;
inline constexpr std::uint32_t CallNotImplemented = 120;
inline constexpr std::uint32_t InsufficientBuffer = 122;
inline constexpr std::uint32_t InvalidName = 123;
inline constexpr std::uint32_t AlreadyExists = 183;
inline constexpr std::uint32_t EnvVarNotFound = 203;
inline constexpr std::uint32_t MoreData = 234;
inline constexpr std::uint32_t NoMoreItems = 259;
inline constexpr std::uint32_t MrMidNotFound = 317;
inline constexpr std::uint32_t ResourceDataNotFound = 1812;
inline constexpr std::uint32_t ResourceTypeNotFound = 1813;
inline constexpr std::uint32_t KeyDeleted = 1018;
inline constexpr std::uint32_t BadPathname = 161;
inline constexpr std::uint32_t DirNotEmpty = 145;
inline constexpr std::uint32_t InvalidWindowHandle = 1400;
}  // namespace err

// HRESULT values the core names.
namespace hr {
inline constexpr HResult Ok = 0;
inline constexpr HResult Fail = static_cast<HResult>(0x80004005);
inline constexpr HResult NotImpl = static_cast<HResult>(0x80004001);
inline constexpr HResult False = 1;  // S_FALSE: a WIA dialog the user cancelled
inline constexpr HResult Pointer = static_cast<HResult>(0x80004003);
inline constexpr HResult OutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult InvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult FromWin32(std::uint32_t code) {
  return code == 0 ? 0 : static_cast<HResult>((code & 0xFFFFu) | 0x80070000u);
}
inline constexpr bool Succeeded(HResult value) { return value >= 0; }
}  // namespace hr

}  // namespace kvd::platform
