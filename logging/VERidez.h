// logging/: the trace log (namespace DUDiduzuz), its support classes (namespace VERidez) and the
// wide formatter. Portable: reaches the system only through platform/api.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/api/ISystem.h"

namespace VERidez {

// A processor fault turned into a C++ exception. Where the run-time can translate structured
// exceptions (MSVC's translator) it throws these; everywhere else only code that detects a fault
// itself does. Every live object counts in LiveCount(), which scope exits consult to mark an exit
// that happens while such an exception is on its way up.
class CWin32Exception : public std::exception {
 public:
  CWin32Exception(std::uint32_t code, const void* faultAddress);
  CWin32Exception(const CWin32Exception& other);
  CWin32Exception& operator=(const CWin32Exception& other) = default;
  ~CWin32Exception() override;

  const char* what() const noexcept override { return narrow_.c_str(); }
  const std::wstring& Description() const { return description_; }
  std::uint32_t Code() const { return code_; }
  const void* FaultAddress() const { return faultAddress_; }

  // Live objects in the whole process, any thread.
  static long LiveCount() { return liveCount_.load(std::memory_order_acquire); }

 private:
  static std::atomic<long> liveCount_;
  std::wstring description_;
  std::string narrow_;
  std::uint32_t code_ = 0;
  const void* faultAddress_ = nullptr;
};

class CAccessViolation : public CWin32Exception {
 public:
  CAccessViolation(const void* faultAddress, bool isWrite, const void* dataAddress)
      : CWin32Exception(kCode, faultAddress), isWrite_(isWrite), dataAddress_(dataAddress) {}

  bool IsWrite() const { return isWrite_; }
  const void* DataAddress() const { return dataAddress_; }

  static constexpr std::uint32_t kCode = 0xC0000005u;

 private:
  bool isWrite_ = false;
  const void* dataAddress_ = nullptr;
};

// A file's version resource.
class AFileVersionInfo {
 public:
  virtual ~AFileVersionInfo() = default;
  // The named string of "\\StringFileInfo\\<language><code page>\\<name>" for the translations
  // listed under "\\VarFileInfo\\Translation"; the last listed one that has it wins. Empty when
  // the file has no version resource or no such string.
  virtual std::wstring GetString(const std::wstring& name) const = 0;
  virtual std::wstring CompanyName() const { return GetString(L"CompanyName"); }
  virtual std::wstring FileDescription() const { return GetString(L"FileDescription"); }
  virtual std::wstring FileVersion() const { return GetString(L"FileVersion"); }
  virtual std::wstring ProductName() const { return GetString(L"ProductName"); }
  virtual std::wstring ProductVersion() const { return GetString(L"ProductVersion"); }
};

class CFileVersionInfo : public AFileVersionInfo {
 public:
  CFileVersionInfo(kvd::platform::IProcess& process, const std::wstring& path);
  bool HasVersionInfo() const { return !block_.empty(); }
  std::wstring GetString(const std::wstring& name) const override;

 private:
  kvd::platform::IProcess& process_;
  std::vector<std::uint8_t> block_;
};

}  // namespace VERidez
