#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvd::sim {

// What a file's version resource says: the fixed part and, per translation, the string values.
struct VersionResource {
  struct Translation {
    std::uint16_t language = 0x0409;
    std::uint16_t codePage = 1200;
    std::vector<std::pair<std::wstring, std::wstring>> strings;  // e.g. {L"CompanyName", L"..."}
  };
  std::array<std::uint16_t, 4> fileVersion{1, 0, 0, 0};
  std::array<std::uint16_t, 4> productVersion{1, 0, 0, 0};
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOs = 0x00040004;  // VOS_NT_WINDOWS32
  std::uint32_t fileType = 1;         // VFT_APP
  std::vector<Translation> translations;
};

// VS_FIXEDFILEINFO: 13 DWORDs, the first the signature.
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
inline constexpr std::uint32_t kFixedFileInfoBytes = 52;

// The VS_VERSIONINFO block a resource compiler makes of it: UTF-16LE keys, every node
// 32-bit aligned, VS_FIXEDFILEINFO, StringFileInfo with one table per translation ("040904b0"),
// VarFileInfo\Translation.
std::vector<std::uint8_t> BuildVersionBlock(const VersionResource& info);

// Finds `subBlock` ("\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\...") in a
// VS_VERSIONINFO block as VerQueryValueW does: keys compare case-insensitively; the value
// points into the block; length counts characters for text nodes and bytes otherwise. The
// block's own length (its first WORD) bounds every read. false when the path is not there.
bool FindVersionValue(const std::uint8_t* block, std::wstring_view subBlock,
                      const std::uint8_t** value, std::uint32_t* length);

}  // namespace kvd::sim
