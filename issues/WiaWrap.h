// One test scan of a device through Windows Image Acquisition: the device of the record (or the
// selection dialog's), its first item transferred silently as a BMP file (or the scan dialog's
// items), with a progress window, and the image thrown away. The Windows scan check's scan.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/DeviceDetails.h"
#include "platform/api/Platform.h"
#include "ui/ProgressDialog.h"

namespace WiaWrap {

// The progress window of one transfer, owned by `owner`: Show returns once it is up.
using ProgressFactory =
    std::function<std::unique_ptr<IProgressDialog>(kvd::platform::WindowHandle owner)>;

// What a scan needs besides the device: the ports, how many devices the list holds (with more
// than one, the device WIA opens must carry the record's name), and the progress window.
struct ScanHost {
  kvd::platform::Platform& platform;
  std::size_t deviceCount = 1;
  ProgressFactory progress;
};

// The result of WiaGetImage: an image was transferred.
inline constexpr int kImage = 0;
// A WIA dialog was cancelled.
inline constexpr int kCancelled = 1;
// The device is not a scanner, or none of the scan dialog's items could be transferred.
inline constexpr int kNoScan = -1;

// One test scan; any other negative value is the failing COM result. COM must be initialised
// on the calling thread. "Listen_Event" is signalled on every way out.
int WiaGetImage(const ScanHost& host, const DeviceDetails& device,
                kvd::platform::WindowHandle owner);

// The STI device type of an item (the high word of WIA_DIP_DEV_TYPE; 1 for a scanner), -1 when
// it cannot be read.
int GetDeviceType(kvd::platform::IWia& wia, kvd::platform::WiaObject item);
// WIA_DIP_DEV_NAME of an item when it is a text, else empty.
std::wstring GetDriverName(kvd::platform::IWia& wia, kvd::platform::WiaObject item);
// One item transferred as a BMP file (tried twice), its progress shown.
kvd::platform::HResult TransferWiaItem(const ScanHost& host, kvd::platform::WiaObject item,
                                       kvd::platform::WindowHandle owner);

// The progress function of the transfer: the percentage of the three transfer statuses.
kvd::platform::HResult UpdateProgress(std::int32_t status, std::int32_t percent,
                                      IProgressDialog* progress);

// The program's IWiaDataCallback: the bands of the transfer gathered into an in-memory stream
// (a memory bitmap gets room for its file header first), the progress reported.
class CDataCallback final : public kvd::platform::IWiaTransferCallback {
 public:
  using Progress = std::function<kvd::platform::HResult(std::int32_t status, std::int32_t percent)>;
  // The largest image the stream takes: a larger one is refused as out of memory.
  static constexpr std::uint64_t kMaxBytes = 512ull * 1024 * 1024;

  explicit CDataCallback(Progress progress) : m_progress(std::move(progress)) {}

  kvd::platform::HResult BandedDataCallback(const kvd::platform::WiaBand& band) override;

  bool IsBitmap() const { return m_bBitmap; }
  std::uint32_t HeaderSize() const { return m_nHeaderSize; }
  const std::vector<std::uint8_t>& Stream() const { return m_stream; }
  std::size_t FinishedStreams() const { return m_nFinished; }

 private:
  kvd::platform::HResult Grow(std::int64_t bytes);

  Progress m_progress;
  bool m_bBitmap = false;
  std::uint32_t m_nHeaderSize = 0;
  bool m_bStreamOpen = false;
  std::vector<std::uint8_t> m_stream;
  std::size_t m_nFinished = 0;
};

}  // namespace WiaWrap
