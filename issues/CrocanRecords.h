// The records the driver check exchanges with the maker's scanner components (Crocan), read and
// written by byte offset, and the arithmetic of its scan: the gamma tables and how many lines
// one read asks for. Every size that comes from a component is bounded here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/api/ICrocan.h"

namespace crocan {

// The largest records the components fill, and the scan parameters the program gives them.
inline constexpr std::size_t kDescriptionBytes = kvd::platform::crocan::kDescriptionBytes;
inline constexpr std::size_t kCapabilityBytes = kvd::platform::crocan::kCapabilityBytes;
inline constexpr std::size_t kBufferInfoBytes = kvd::platform::crocan::kBufferInfoBytes;
inline constexpr std::size_t kParameterBytes = 0x22;
// The fixed read block of the scan.
inline constexpr std::uint32_t kReadBlock = 32768;
// A gamma table longer than this (entries), or a page larger than this (bytes), is refused.
inline constexpr std::uint32_t kMaxGammaEntries = 65536;
inline constexpr std::uint64_t kMaxPageBytes = 256ull * 1024 * 1024;

// The fields of the capability record the check reads.
struct Capabilities {
  std::uint16_t warmUpSeconds = 0;  // 0x10
  std::uint16_t resolution = 0;     // 0x18, dots per inch
  std::uint32_t value1C = 0;        // 0x1C, copied into the scan parameters
  std::uint32_t value24 = 0;        // 0x24, copied into the scan parameters
  std::uint32_t gammaEntries = 0;   // 0x50
  std::uint32_t gammaMax = 0;       // 0x54
  std::uint16_t gammaBytes = 0;     // 0x58, 1 or 2
};
Capabilities ReadCapabilities(const std::uint8_t (&record)[kCapabilityBytes]);

// The scan-parameter record for a resolution (both directions).
std::vector<std::uint8_t> ScanParameters(const Capabilities& capabilities,
                                         std::uint16_t resolution);

// The buffer-info record's lines and bytes per line.
struct BufferInfo {
  std::uint32_t lines = 0;         // 0x04
  std::uint32_t bytesPerLine = 0;  // 0x08
};
BufferInfo ReadBufferInfo(const std::uint8_t (&record)[kBufferInfoBytes]);

// One gamma table: entry i of N is (i / (N - 1))^(1 / 2.2) * M + 0.5, truncated, at most M;
// 1 or 2 bytes an entry (little-endian). Nothing for a table that cannot be built: no entries,
// more than kMaxGammaEntries, or an entry size other than 1 and 2. A table of one entry is M.
std::optional<std::vector<std::uint8_t>> GammaTable(const Capabilities& capabilities);

// How the scan reads a page of `info`: whole lines per read, and the bytes the read buffer must
// hold (the fixed block; a line longer than the block is read one line at a time into a buffer
// of its size). Nothing for lines without bytes.
struct ReadPlan {
  std::uint32_t linesPerRead = 0;
  std::uint32_t bufferBytes = 0;
};
std::optional<ReadPlan> PlanReads(const BufferInfo& info);

// The bytes of a whole page (lines x bytes per line) that the feeder scan keeps while it reads;
// nothing when that is more than kMaxPageBytes.
std::optional<std::size_t> PageBytes(const BufferInfo& info);

}  // namespace crocan
