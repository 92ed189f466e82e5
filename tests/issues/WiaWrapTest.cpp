// The WIA test scan on the simulated machine's WIA: which device is opened, the two dialogs'
// fall-backs, the transfer with its retry and its medium, the progress, and the data callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "issues/WiaWrap.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/SimLog.h"

namespace {

namespace platform = kvd::platform;
namespace wia = platform::wia;
using kvd::sim::SimWia;

constexpr const wchar_t* kWiaId = L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0003";
constexpr platform::WindowHandle kPage = 0x4242;

// What the transfer's progress window was told.
struct ProgressLog {
  int shown = 0;
  int closed = 0;
  std::vector<int> positions;
  std::vector<platform::WindowHandle> owners;
};

class FakeProgress final : public IProgressDialog {
 public:
  explicit FakeProgress(ProgressLog& log) : log_(log) {}
  platform::WindowHandle Show() override {
    ++log_.shown;
    return 0x7777;
  }
  void SetPosition(int percent) override { log_.positions.push_back(percent); }
  void Close() override { ++log_.closed; }

 private:
  ProgressLog& log_;
};

SimWia::Item ScannerItem(const std::wstring& name) {
  SimWia::Item item;
  item.name = name;
  SimWia::Band header;
  header.message = wia::MsgDataHeader;
  header.format = wia::ImgFmtMemoryBmp;
  header.bufferSize = 8;
  SimWia::Band data;
  data.message = wia::MsgData;
  data.status = wia::StatusTransferToClient;
  data.percent = 50;
  data.bytes = {1, 2, 3, 4};
  SimWia::Band rest = data;
  rest.percent = 100;
  rest.offset = 4;
  SimWia::Band end;
  end.message = wia::MsgTermination;
  item.bands = {header, data, rest, end};
  return item;
}

// The record's scanner with these items.
SimWia::Device RecordsScanner(std::vector<SimWia::Item> items) {
  SimWia::Device scanner;
  scanner.id = kWiaId;
  scanner.name = L"Quvari AIO 3400 Series";
  scanner.items = std::move(items);
  return scanner;
}

class WiaWrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    device_.strDriverKey = kWiaId;
    device_.strFriendlyName = L"Quvari AIO 3400 Series";
    wia().AddDevice(RecordsScanner({ScannerItem(L"Flatbed")}));
  }
  void TearDown() override { sim_.Ports().sync.CloseHandle(g_hListenEvent.exchange(0)); }
  SimWia& wia() { return sim_.Wia(); }
  int Scan(std::size_t devices = 1) {
    WiaWrap::ScanHost host{sim_.Ports(), devices, [this](platform::WindowHandle owner) {
                             progress_.owners.push_back(owner);
                             return std::make_unique<FakeProgress>(progress_);
                           }};
    const int result = WiaWrap::WiaGetImage(host, device_, kPage);
    EXPECT_EQ(sim_.Ports().sync.WaitForSingleObject(g_hListenEvent, 0), 0u)
        << "Listen_Event not signalled";
    EXPECT_EQ(wia().LiveObjects(), 0u) << "a WIA reference was not released";
    return result;
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  ProgressLog progress_;
};

TEST_F(WiaWrapTest, TheRecordsDeviceScansSilently) {
  EXPECT_EQ(Scan(), WiaWrap::kImage);
  EXPECT_EQ(wia().Calls(), (std::vector<std::wstring>{L"CreateDevice " + std::wstring(kWiaId),
                                                      L"WriteTransferFormat Flatbed bmp 2",
                                                      L"GetData Flatbed", L"FreeMedium released"}));
  EXPECT_EQ(progress_.shown, 1);
  EXPECT_EQ(progress_.closed, 1);
  EXPECT_EQ(progress_.positions, (std::vector<int>{50, 100}));
  EXPECT_EQ(progress_.owners, std::vector<platform::WindowHandle>{kPage});
}

// With one device its WIA name does not matter; with more it must be the record's, else the
// selection dialog is asked.
TEST_F(WiaWrapTest, TheDevicesNameCountsOnlyAmongSeveral) {
  device_.strFriendlyName = L"Quvari AIO 3400";
  EXPECT_EQ(Scan(1), WiaWrap::kImage);
  EXPECT_EQ(wia().Calls().size(), 4u);
  // Several devices: the one WIA opened is another's; the selection dialog is cancelled.
  wia().SetSelectDeviceDlg(platform::hr::False);
  EXPECT_EQ(Scan(2), WiaWrap::kCancelled);
  const auto calls = wia().Calls();
  EXPECT_EQ(calls.back(), L"SelectDeviceDlg");
  EXPECT_TRUE(kvd::test::SimLog::Contains(
      log_.Take(), L"##",
      L"CreateDevice Created Incorrect device, Diagnosing: Quvari AIO 3400 Selected: Quvari AIO "
      L"3400 Series"));
}

// A name of 600 characters is compared and logged whole.
TEST_F(WiaWrapTest, ALongDeviceName) {
  kvd::sim::SimMachine sim;
  const std::wstring name = L"Quvari " + std::wstring(593, L'x');
  SimWia::Device scanner = RecordsScanner({ScannerItem(L"Flatbed")});
  scanner.name = name + L"y";
  sim.Wia().AddDevice(scanner);
  sim.Wia().SetSelectDeviceDlg(platform::hr::False);
  kvd::test::SimLog log(sim);
  device_.strFriendlyName = name;
  WiaWrap::ScanHost host{sim.Ports(), 2, {}};
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), WiaWrap::kCancelled);
  EXPECT_TRUE(kvd::test::SimLog::Contains(log.Take(), L"##",
                                          L"CreateDevice Created Incorrect device, Diagnosing: " +
                                              name + L" Selected: " + name + L"y"));
  device_.strFriendlyName = name + L"y";
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), WiaWrap::kImage);
  EXPECT_EQ(sim.Wia().LiveObjects(), 0u);
}

TEST_F(WiaWrapTest, TheSelectionDialogWhenTheDeviceCannotBeOpened) {
  device_.strDriverKey = L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0009";
  struct Case {
    const char* name;
    platform::HResult answer;
    std::int32_t type;
    int result;
  };
  const Case cases[] = {
      {"cancelled", platform::hr::False, 0x00010000, WiaWrap::kCancelled},
      {"failed", platform::hr::Fail, 0x00010000, platform::hr::Fail},
      {"a camera", platform::hr::Ok, 0x00020000, WiaWrap::kNoScan},
      {"a scanner", platform::hr::Ok, 0x00010000, WiaWrap::kImage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    SimWia::Device other;
    other.id = L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0004";
    other.name = L"Another";
    other.type = c.type;
    other.items = {ScannerItem(L"Top")};
    sim.Wia().AddDevice(other);
    sim.Wia().SetSelectDeviceDlg(c.answer, other.id);
    WiaWrap::ScanHost host{sim.Ports(), 1, {}};
    EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), c.result);
    const auto calls = sim.Wia().Calls();
    EXPECT_EQ(calls[1], L"SelectDeviceDlg");
    // No dialog follows a cancelled one.
    if (c.result == WiaWrap::kCancelled) {
      EXPECT_EQ(calls.size(), 2u);
    }
    EXPECT_EQ(sim.Wia().LiveObjects(), 0u);
  }
}

// No silent item: the scan dialog, whose items are tried in order.
TEST_F(WiaWrapTest, TheScanDialogWhenNoItemTransfersSilently) {
  kvd::sim::SimMachine sim;
  SimWia::Item broken = ScannerItem(L"Feeder");
  broken.results = {platform::hr::Fail};
  SimWia::Device bare = RecordsScanner({broken, ScannerItem(L"Flatbed")});
  bare.enumResult = platform::hr::Fail;
  sim.Wia().AddDevice(bare);
  kvd::test::SimLog log(sim);
  WiaWrap::ScanHost host{sim.Ports(), 1, {}};

  sim.Wia().SetDeviceDlg(platform::hr::False);
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), WiaWrap::kCancelled);
  auto records = log.Take();
  EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"##", L"EnumChildItems failed"));
  EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"##", L"DeviceDlg failed"));

  sim.Wia().SetDeviceDlg(platform::hr::Ok, {L"Feeder", L"Flatbed"});
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), WiaWrap::kImage);
  const auto calls = sim.Wia().Calls();
  const std::vector<std::wstring> tail(calls.end() - 8, calls.end());
  EXPECT_EQ(tail, (std::vector<std::wstring>{
                      L"DeviceDlg", L"WriteTransferFormat Feeder bmp 2", L"GetData Feeder",
                      L"GetData Feeder", L"FreeMedium kept", L"WriteTransferFormat Flatbed bmp 2",
                      L"GetData Flatbed", L"FreeMedium released"}));
  EXPECT_TRUE(kvd::test::SimLog::Contains(log.Take(), L"DB", L"idtGetData  failed: Retry"));

  sim.Wia().SetDeviceDlg(platform::hr::Ok, {L"Feeder"});
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), WiaWrap::kNoScan);
  EXPECT_EQ(sim.Wia().LiveObjects(), 0u);
}

// A first transfer that fails is tried once more; S_FALSE keeps the medium.
TEST_F(WiaWrapTest, TheTransfersRetryAndItsMedium) {
  kvd::sim::SimMachine sim;
  SimWia::Item once = ScannerItem(L"Flatbed");
  once.results = {platform::hr::Fail, platform::hr::False};
  sim.Wia().AddDevice(RecordsScanner({once}));
  sim.Wia().SetDeviceDlg(platform::hr::False);
  WiaWrap::ScanHost host{sim.Ports(), 1, {}};
  // S_FALSE is not negative: it is the answer (the check reads 1 as a cancel).
  EXPECT_EQ(WiaWrap::WiaGetImage(host, device_, kPage), platform::hr::False);
  const auto calls = sim.Wia().Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), L"GetData Flatbed"), 2);
  EXPECT_EQ(calls.back(), L"FreeMedium kept");
}

TEST_F(WiaWrapTest, TheDeviceManagerCannotBeMade) {
  sim_.InjectFault("CreateDevMgr", 1, 1722 /* RPC_S_SERVER_UNAVAILABLE */);
  EXPECT_EQ(Scan(), platform::hr::FromWin32(1722));
  EXPECT_TRUE(kvd::test::SimLog::Contains(log_.Take(), L"##", L"WiaDevMgr Creation failed."));
}

TEST(WiaDataCallback, BandsGatheredWithinBounds) {
  std::vector<std::pair<int, int>> progress;
  WiaWrap::CDataCallback callback([&](std::int32_t status, std::int32_t percent) {
    progress.emplace_back(status, percent);
    return percent == 66 ? platform::hr::False : platform::hr::Ok;
  });
  platform::WiaBand header;
  header.message = wia::MsgDataHeader;
  header.headerFormat = wia::ImgFmtMemoryBmp;
  header.headerBufferSize = 4;
  EXPECT_EQ(callback.BandedDataCallback(header), platform::hr::Ok);
  EXPECT_TRUE(callback.IsBitmap());
  EXPECT_EQ(callback.HeaderSize(), 14u);
  EXPECT_EQ(callback.Stream().size(), 18u);
  const std::uint8_t bytes[] = {9, 8, 7, 6, 5, 4};
  platform::WiaBand data;
  data.message = wia::MsgData;
  data.status = wia::StatusTransferToClient;
  data.offset = 2;
  data.length = 6;
  data.data = bytes;
  EXPECT_EQ(callback.BandedDataCallback(data), platform::hr::Ok);
  EXPECT_EQ(callback.Stream().size(), 22u);  // grown: 14 + 2 + 6
  EXPECT_EQ(callback.Stream()[16], 9);
  // The progress function stops the transfer.
  data.percentComplete = 66;
  EXPECT_EQ(callback.BandedDataCallback(data), platform::hr::False);
  // Offsets and lengths that no stream can take.
  data.percentComplete = 70;
  for (auto [offset, length] :
       {std::pair{-1, 4}, std::pair{0, -4}, std::pair{0x7FFFFFFF, 0x7FFFFFFF}}) {
    data.offset = offset;
    data.length = length;
    data.data = nullptr;
    EXPECT_EQ(callback.BandedDataCallback(data), platform::hr::OutOfMemory)
        << offset << " " << length;
  }
  platform::WiaBand end;
  end.message = wia::MsgTermination;
  EXPECT_EQ(callback.BandedDataCallback(end), platform::hr::Ok);
  EXPECT_EQ(callback.FinishedStreams(), 1u);
  EXPECT_TRUE(callback.Stream().empty());
  platform::WiaBand unknown;
  unknown.message = 9;
  EXPECT_EQ(callback.BandedDataCallback(unknown), platform::hr::Ok);
  EXPECT_EQ(WiaWrap::UpdateProgress(wia::StatusProcessingData, 5, nullptr), platform::hr::Pointer);
}

// A stream of no bytes, and one that ends before the size its header announced.
TEST(WiaDataCallback, EmptyAndTruncatedStreams) {
  WiaWrap::CDataCallback callback({});
  platform::WiaBand data;
  data.message = wia::MsgData;
  data.status = wia::StatusTransferToClient;
  EXPECT_EQ(callback.BandedDataCallback(data), platform::hr::Ok);  // 0 bytes, no buffer
  platform::WiaBand end;
  end.message = wia::MsgTermination;
  EXPECT_EQ(callback.BandedDataCallback(end), platform::hr::Ok);
  platform::WiaBand header;
  header.message = wia::MsgDataHeader;
  header.headerFormat = wia::ImgFmtBmp;
  header.headerBufferSize = 1000;
  EXPECT_EQ(callback.BandedDataCallback(header), platform::hr::Ok);
  EXPECT_EQ(callback.HeaderSize(), 0u);
  EXPECT_EQ(callback.Stream().size(), 1000u);
  EXPECT_EQ(callback.BandedDataCallback(end), platform::hr::Ok);
  EXPECT_EQ(callback.FinishedStreams(), 2u);
}

TEST_F(WiaWrapTest, UpdateProgressTakesTheTransferStatusesOnly) {
  ProgressLog log;
  FakeProgress progress(log);
  for (std::int32_t status : {1, 2, 4})
    EXPECT_EQ(WiaWrap::UpdateProgress(status, 30, &progress), 0);
  for (std::int32_t status : {0, 3, 8}) {
    EXPECT_EQ(WiaWrap::UpdateProgress(status, 30, &progress), platform::hr::InvalidArg);
  }
  EXPECT_EQ(log.positions, (std::vector<int>{30, 30, 30}));
}

}  // namespace
