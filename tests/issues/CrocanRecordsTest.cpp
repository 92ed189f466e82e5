// The driver check's records by byte offset, its gamma tables and its read plan, with the sizes
// a component may report that no scan could use.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "issues/CrocanRecords.h"

namespace {

using namespace crocan;

template <std::size_t N>
void Put(std::uint8_t (&record)[N], std::size_t at, std::uint32_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    record[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(CrocanRecords, FieldsByOffset) {
  std::uint8_t capability[kCapabilityBytes] = {};
  Put(capability, 0x10, 12, 2);
  Put(capability, 0x18, 300, 2);
  Put(capability, 0x1C, 0x11223344, 4);
  Put(capability, 0x24, 0x55667788, 4);
  Put(capability, 0x50, 256, 4);
  Put(capability, 0x54, 1023, 4);
  Put(capability, 0x58, 2, 2);
  const Capabilities read = ReadCapabilities(capability);
  EXPECT_EQ(read.warmUpSeconds, 12);
  EXPECT_EQ(read.resolution, 300);
  EXPECT_EQ(read.value1C, 0x11223344u);
  EXPECT_EQ(read.value24, 0x55667788u);
  EXPECT_EQ(read.gammaEntries, 256u);
  EXPECT_EQ(read.gammaMax, 1023u);
  EXPECT_EQ(read.gammaBytes, 2);

  const std::vector<std::uint8_t> parameters = ScanParameters(read, 150);
  ASSERT_EQ(parameters.size(), kParameterBytes);
  const std::vector<std::uint8_t> expected = {
      0,    0,    0,    0,    0,    0,    0,    0,            // 0x00, 0x04
      0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,         // 0x08, 0x0C: the capability's values
      1,    0,    0,    0,    0,    0,    0,    0,            // 0x10, 0x14
      8,    0,    150,  0,    150,  0,    2,    0,    0, 0};  // 0x18 .. 0x20
  EXPECT_EQ(parameters, expected);

  std::uint8_t info[kBufferInfoBytes] = {};
  Put(info, 0x04, 1650, 4);
  Put(info, 0x08, 3825, 4);
  const BufferInfo buffer = ReadBufferInfo(info);
  EXPECT_EQ(buffer.lines, 1650u);
  EXPECT_EQ(buffer.bytesPerLine, 3825u);
}

TEST(CrocanRecords, GammaTables) {
  Capabilities byte;
  byte.gammaEntries = 256;
  byte.gammaMax = 255;
  byte.gammaBytes = 1;
  const auto table = GammaTable(byte);
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->size(), 256u);
  EXPECT_EQ((*table)[0], 0);      // 0.5 truncated
  EXPECT_EQ((*table)[255], 255);  // M + 0.5 is held at M
  EXPECT_EQ((*table)[128], 186);  // (128 / 255)^(1 / 2.2) * 255 + 0.5 = 186.4
  for (std::size_t i = 1; i < table->size(); ++i) EXPECT_GE((*table)[i], (*table)[i - 1]) << i;

  Capabilities wide = byte;
  wide.gammaEntries = 1024;
  wide.gammaMax = 4095;
  wide.gammaBytes = 2;
  const auto words = GammaTable(wide);
  ASSERT_TRUE(words.has_value());
  ASSERT_EQ(words->size(), 2048u);
  EXPECT_EQ((*words)[2046] | ((*words)[2047] << 8), 4095);  // little-endian, the largest value

  // One entry is the largest value (nothing to interpolate); sizes no table can have.
  Capabilities one = byte;
  one.gammaEntries = 1;
  EXPECT_EQ(GammaTable(one), (std::vector<std::uint8_t>{255}));
  for (auto [entries, bytes] : {std::pair<std::uint32_t, std::uint16_t>{0, 1},
                                {65537, 1},
                                {0xFFFFFFFF, 2},
                                {256, 0},
                                {256, 4}}) {
    Capabilities bad = byte;
    bad.gammaEntries = entries;
    bad.gammaBytes = bytes;
    EXPECT_FALSE(GammaTable(bad).has_value()) << entries << " x " << bytes;
  }
}

TEST(CrocanRecords, ReadPlans) {
  struct Case {
    std::uint32_t lines;
    std::uint32_t bytesPerLine;
    bool readable;
    std::uint32_t linesPerRead;
    std::uint32_t bufferBytes;
  };
  const Case cases[] = {
      {1650, 3825, true, 8, kReadBlock},  // 150 dpi colour A4
      {10, 32768, true, 1, kReadBlock},
      {10, 40000, true, 1, 40000},  // a line longer than the block: a line a read
      {10, 0, false, 0, 0},         // lines of no bytes would read for ever
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytesPerLine);
    const auto plan = PlanReads({c.lines, c.bytesPerLine});
    ASSERT_EQ(plan.has_value(), c.readable);
    if (!plan) continue;
    EXPECT_EQ(plan->linesPerRead, c.linesPerRead);
    EXPECT_EQ(plan->bufferBytes, c.bufferBytes);
  }
  EXPECT_EQ(PageBytes({1650, 3825}), std::optional<std::size_t>(6311250));
  EXPECT_FALSE(PageBytes({0xFFFFFFFF, 0xFFFFFFFF}).has_value());  // no overflow, refused
  EXPECT_FALSE(PageBytes({70000, 4000}).has_value());             // 280 MB
}

}  // namespace
