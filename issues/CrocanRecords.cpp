#include "issues/CrocanRecords.h"

#include <algorithm>
#include <cmath>

namespace crocan {

namespace {

template <class Value>
Value ReadLe(const std::uint8_t* record, std::size_t at) {
  Value value = 0;
  for (std::size_t i = 0; i < sizeof(Value); ++i) {
    value = static_cast<Value>(value | (static_cast<Value>(record[at + i]) << (8 * i)));
  }
  return value;
}

template <class Value>
void WriteLe(std::vector<std::uint8_t>& record, std::size_t at, Value value) {
  for (std::size_t i = 0; i < sizeof(Value); ++i) {
    record[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  }
}

}  // namespace

Capabilities ReadCapabilities(const std::uint8_t (&record)[kCapabilityBytes]) {
  Capabilities out;
  out.warmUpSeconds = ReadLe<std::uint16_t>(record, 0x10);
  out.resolution = ReadLe<std::uint16_t>(record, 0x18);
  out.value1C = ReadLe<std::uint32_t>(record, 0x1C);
  out.value24 = ReadLe<std::uint32_t>(record, 0x24);
  out.gammaEntries = ReadLe<std::uint32_t>(record, 0x50);
  out.gammaMax = ReadLe<std::uint32_t>(record, 0x54);
  out.gammaBytes = ReadLe<std::uint16_t>(record, 0x58);
  return out;
}

std::vector<std::uint8_t> ScanParameters(const Capabilities& capabilities,
                                         std::uint16_t resolution) {
  std::vector<std::uint8_t> record(kParameterBytes, 0);
  WriteLe<std::uint32_t>(record, 0x00, 0);
  WriteLe<std::uint32_t>(record, 0x04, 0);
  WriteLe<std::uint32_t>(record, 0x08, capabilities.value1C);
  WriteLe<std::uint32_t>(record, 0x0C, capabilities.value24);
  WriteLe<std::uint32_t>(record, 0x10, 1);
  WriteLe<std::uint32_t>(record, 0x14, 0);
  record[0x18] = 8;
  WriteLe<std::uint16_t>(record, 0x1A, resolution);
  WriteLe<std::uint16_t>(record, 0x1C, resolution);
  WriteLe<std::uint16_t>(record, 0x1E, 2);
  WriteLe<std::uint16_t>(record, 0x20, 0);
  return record;
}

BufferInfo ReadBufferInfo(const std::uint8_t (&record)[kBufferInfoBytes]) {
  return {ReadLe<std::uint32_t>(record, 0x04), ReadLe<std::uint32_t>(record, 0x08)};
}

std::optional<std::vector<std::uint8_t>> GammaTable(const Capabilities& capabilities) {
  const std::uint32_t entries = capabilities.gammaEntries;
  const std::uint16_t width = capabilities.gammaBytes;
  if (entries == 0 || entries > kMaxGammaEntries || (width != 1 && width != 2)) {
    return std::nullopt;
  }
  const double top = static_cast<double>(capabilities.gammaMax);
  std::vector<std::uint8_t> table(static_cast<std::size_t>(entries) * width, 0);
  for (std::uint32_t i = 0; i < entries; ++i) {
    // One entry has nothing to interpolate between (the formula would divide 0 by 0).
    const double share =
        entries == 1 ? 1.0 : static_cast<double>(i) / static_cast<double>(entries - 1);
    const double value = std::pow(share, 1.0 / 2.2) * top + 0.5;
    const auto entry = static_cast<std::uint32_t>(value < top ? value : top);
    table[static_cast<std::size_t>(i) * width] = static_cast<std::uint8_t>(entry);
    if (width == 2) {
      table[static_cast<std::size_t>(i) * width + 1] = static_cast<std::uint8_t>(entry >> 8);
    }
  }
  return table;
}

std::optional<std::size_t> PageBytes(const BufferInfo& info) {
  const std::uint64_t page = static_cast<std::uint64_t>(info.lines) * info.bytesPerLine;
  if (page > kMaxPageBytes) return std::nullopt;
  return static_cast<std::size_t>(page);
}

std::optional<ReadPlan> PlanReads(const BufferInfo& info) {
  if (info.bytesPerLine == 0) return std::nullopt;
  ReadPlan plan;
  if (info.bytesPerLine > kReadBlock) {
    plan.linesPerRead = 1;
    plan.bufferBytes = info.bytesPerLine;
  } else {
    plan.linesPerRead = kReadBlock / info.bytesPerLine;
    plan.bufferBytes = kReadBlock;
  }
  return plan;
}

}  // namespace crocan
