#include "logging/VERidez.h"

#include <array>
#include <cstdio>

#include "platform/api/Text.h"

namespace VERidez {

std::atomic<long> CWin32Exception::liveCount_{0};

namespace {
std::wstring DescribeCode(std::uint32_t code) {
  switch (code) {
    case 0xC0000005u:
      return L"Access violation";
    case 0xC0000094u:
      return L"Division by zero";
    default:
      return L"Win32 exception";
  }
}
}  // namespace

CWin32Exception::CWin32Exception(std::uint32_t code, const void* faultAddress)
    : description_(DescribeCode(code)),
      narrow_(kvd::platform::NarrowUtf8(description_)),
      code_(code),
      faultAddress_(faultAddress) {
  liveCount_.fetch_add(1, std::memory_order_acq_rel);
}

CWin32Exception::CWin32Exception(const CWin32Exception& other)
    : std::exception(other),
      description_(other.description_),
      narrow_(other.narrow_),
      code_(other.code_),
      faultAddress_(other.faultAddress_) {
  liveCount_.fetch_add(1, std::memory_order_acq_rel);
}

CWin32Exception::~CWin32Exception() { liveCount_.fetch_sub(1, std::memory_order_acq_rel); }

CFileVersionInfo::CFileVersionInfo(kvd::platform::IProcess& process, const std::wstring& path)
    : process_(process) {
  const std::uint32_t size = process_.GetFileVersionInfoSize(path.c_str());
  if (size == 0) return;
  block_.resize(size);
  if (!process_.GetFileVersionInfo(path.c_str(), size, block_.data())) block_.clear();
}

std::wstring CFileVersionInfo::GetString(const std::wstring& name) const {
  if (block_.empty()) return {};
  const std::uint8_t* translations = nullptr;
  std::uint32_t bytes = 0;
  if (!process_.VerQueryValue(block_.data(), L"\\VarFileInfo\\Translation", &translations,
                              &bytes) ||
      translations == nullptr) {
    return {};
  }
  std::wstring result;
  for (std::uint32_t offset = 0; offset + 4 <= bytes; offset += 4) {
    const auto language =
        static_cast<unsigned>(translations[offset] | (translations[offset + 1] << 8));
    const auto codePage =
        static_cast<unsigned>(translations[offset + 2] | (translations[offset + 3] << 8));
    std::array<char, 64> key{};
    std::snprintf(key.data(), key.size(), "\\StringFileInfo\\%04x%04x\\", language, codePage);
    const std::wstring subBlock = kvd::platform::WidenUtf8(key.data()) + name;
    const std::uint8_t* value = nullptr;
    std::uint32_t chars = 0;
    if (process_.VerQueryValue(block_.data(), subBlock.c_str(), &value, &chars) &&
        value != nullptr) {
      result = kvd::platform::FromUtf16Bytes(value, static_cast<std::size_t>(chars) * 2);
    }
  }
  return result;
}

}  // namespace VERidez
