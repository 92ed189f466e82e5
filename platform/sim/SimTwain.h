#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api/ITwain.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// The TWAIN source manager and its data sources as the TWAIN check meets them, with the calling
// thread's queue: the library by its path, the sources in order, what an enabled source does
// (an event that asks for the transfer or to be closed, or nothing at all), its transfers, and a
// queue that can be told to quit. Every triplet is recorded in a line of its own, and the states
// (library, manager, source, enabled, images, windows) are tracked for the tests.
class SimTwain final : public platform::ITwain {
 public:
  struct Source {
    std::string productName;
    bool opens = true;
    bool enables = true;
    // The TWMessage of the source's event once it is enabled (MSG_XFERREADY, MSG_CLOSEDSREQ), or
    // 0: it sends none.
    std::uint16_t event = platform::twain::MSG_XFERREADY;
    // The native transfers' return codes in turn (TWRC_XFERDONE, TWRC_CANCEL, TWRC_FAILURE);
    // the last repeats. How many are pending at the start.
    std::vector<std::uint16_t> transfers = {platform::twain::TWRC_XFERDONE};
    std::uint16_t pending = 1;
    bool imageInfoFails = false;
  };

  SimTwain(SimCalls& calls, SimClock& clock, SimFileSystem& files)
      : calls_(calls), clock_(clock), files_(files) {}

  platform::TwainLibrary LoadLibrary(const wchar_t* path, bool* hasEntry) override;
  void FreeLibrary(platform::TwainLibrary library) override;
  std::uint16_t Parent(platform::TwainLibrary library, platform::TwIdentity& app, std::uint16_t msg,
                       platform::WindowHandle parent) override;
  std::uint16_t Identity(platform::TwainLibrary library, platform::TwIdentity& app,
                         std::uint16_t msg, platform::TwIdentity& source) override;
  std::uint16_t UserInterface(platform::TwainLibrary library, platform::TwIdentity& app,
                              platform::TwIdentity& source, std::uint16_t msg, bool showUi,
                              bool modalUi, platform::WindowHandle parent) override;
  std::uint16_t ProcessEvent(platform::TwainLibrary library, platform::TwIdentity& app,
                             platform::TwIdentity& source, const platform::ThreadMessage& message,
                             std::uint16_t* twMessage) override;
  std::uint16_t Status(platform::TwainLibrary library, platform::TwIdentity& app,
                       platform::TwIdentity* source, std::uint16_t* conditionCode) override;
  std::uint16_t ImageInfo(platform::TwainLibrary library, platform::TwIdentity& app,
                          platform::TwIdentity& source) override;
  std::uint16_t NativeTransfer(platform::TwainLibrary library, platform::TwIdentity& app,
                               platform::TwIdentity& source, platform::TwainImage* image) override;
  std::uint16_t PendingTransfers(platform::TwainLibrary library, platform::TwIdentity& app,
                                 platform::TwIdentity& source, std::uint16_t msg,
                                 std::uint16_t* count) override;
  void FreeImage(platform::TwainImage image) override;
  std::wstring AnsiToWide(const std::string& text) override;
  platform::WindowHandle CreateParentWindow() override;
  void DestroyWindow(platform::WindowHandle window) override;
  void SetWindowZOrder(platform::WindowHandle window, bool bottom) override;
  platform::MessageWait GetMessage(platform::ThreadMessage* message,
                                   std::uint32_t timeoutMs) override;
  void DispatchMessage(const platform::ThreadMessage& message) override;

  // Set-up and inspection.
  // The manager's library at `path` (a file of the simulated machine), with or without its entry.
  void InstallLibrary(const std::wstring& path, bool hasEntry = true);
  void AddSource(Source source);
  void SetManagerOpens(bool opens);
  // The queue is told to quit once a source is enabled.
  void QuitWhenEnabled(bool quit);
  // One line a call: "LoadLibrary <path>", "OPENDSM", "CLOSEDSM", "GETFIRST", "GETNEXT",
  // "OPENDS <product>", "CLOSEDS", "ENABLEDS <show> <modal>", "DISABLEDS <show> <modal>",
  // "PROCESSEVENT", "STATUS", "IMAGEINFO", "NATIVEXFER", "ENDXFER", "RESET", "FreeLibrary",
  // "Window", "DestroyWindow", "ZOrder bottom|top", "Dispatch".
  std::vector<std::wstring> Calls() const;
  platform::TwIdentity OpenedWith() const;  // the application identity at MSG_OPENDSM
  bool LibraryLoaded() const;
  bool DsmOpen() const;
  bool SourceOpen() const;
  std::size_t LiveImages() const;
  std::size_t LiveWindows() const;

 private:
  static constexpr std::uint32_t kSourceMessage = 0x0400 + 0x77;  // the source's own window message
  std::uint16_t Enter(std::string_view method, const std::wstring& line);

  SimCalls& calls_;
  SimClock& clock_;
  SimFileSystem& files_;
  mutable std::mutex mutex_;
  std::map<std::wstring, bool> libraries_;  // lower-case path: has the entry
  std::vector<Source> sources_;
  std::vector<std::wstring> calls_log_;
  platform::TwIdentity openedWith_;
  bool managerOpens_ = true;
  bool quitWhenEnabled_ = false;
  bool loaded_ = false;
  bool dsmOpen_ = false;
  int openSource_ = -1;
  bool enabled_ = false;
  std::size_t next_ = 0;  // of the enumeration
  std::size_t transfersMade_ = 0;
  std::uint16_t pending_ = 0;
  std::deque<platform::ThreadMessage> queue_;
  bool quit_ = false;
  std::size_t liveImages_ = 0;
  std::size_t liveWindows_ = 0;
  std::uintptr_t nextHandle_ = 0x7100;
};

}  // namespace kvd::sim
