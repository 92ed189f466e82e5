// The trace configuration a program of ours writes for itself before its first record: its log
// file in %TEMP% and the record kinds and fields, under its own executable's name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/api/Platform.h"

namespace DUDiduzuz {

// What every program of ours traces: every category, compact dates, counters, durations,
// process and thread ids, line fields and indentation.
inline constexpr std::uint32_t kLogCategories = 0x3F00FFF0;
inline constexpr std::uint32_t kLogOptions = 0x7FF80000;
inline constexpr std::uint32_t kLogInfoDetailLevel = 0;

// The log files in %TEMP%: kavid.exe's, and its device-manager helper's.
inline constexpr const wchar_t* kProgramLog = L"qv_kvd.log";
inline constexpr const wchar_t* kHelperLog = L"qv_kvd_devmgr.log";

struct TraceTarget {
  std::wstring exeName;  // the running executable's file name
  std::wstring logFile;  // %TEMP% expanded (left as "%temp%" when it cannot be) + the file name
};

// The running executable's name and its log file `logFileName` in %TEMP%, and the settings under
// HKCU\SOFTWARE\QV\NG\Logging\<executable name> that make the trace library write there.
TraceTarget ConfigureTrace(kvd::platform::Platform& platform, const wchar_t* logFileName);

}  // namespace DUDiduzuz
