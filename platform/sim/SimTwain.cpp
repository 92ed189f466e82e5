#include "platform/sim/SimTwain.h"

#include <algorithm>
#include <utility>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace tw = platform::twain;
using platform::MessageWait;
using platform::ThreadMessage;
using platform::TwIdentity;

std::uint16_t SimTwain::Enter(std::string_view method, const std::wstring& line) {
  {
    std::lock_guard lock(mutex_);
    calls_log_.push_back(line);
  }
  return calls_.Enter(method) ? tw::TWRC_FAILURE : tw::TWRC_SUCCESS;
}

platform::TwainLibrary SimTwain::LoadLibrary(const wchar_t* path, bool* hasEntry) {
  *hasEntry = false;
  const std::wstring file = path != nullptr ? path : L"";
  if (Enter("TwainLoadLibrary", L"LoadLibrary " + file) != tw::TWRC_SUCCESS) return 0;
  std::lock_guard lock(mutex_);
  auto it = libraries_.find(platform::ToLowerOrdinal(file));
  if (it == libraries_.end() || !files_.Exists(file)) return 0;
  *hasEntry = it->second;
  loaded_ = true;
  return 0x7000;
}

void SimTwain::FreeLibrary(platform::TwainLibrary) {
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"FreeLibrary");
  loaded_ = false;
}

std::uint16_t SimTwain::Parent(platform::TwainLibrary, TwIdentity& app, std::uint16_t msg,
                               platform::WindowHandle parent) {
  const bool open = msg == tw::MSG_OPENDSM;
  if (Enter("DsmParent", open ? L"OPENDSM" : L"CLOSEDSM") != tw::TWRC_SUCCESS) {
    return tw::TWRC_FAILURE;
  }
  std::lock_guard lock(mutex_);
  if (!loaded_) return tw::TWRC_FAILURE;
  if (open) {
    if (!managerOpens_ || parent == 0 || dsmOpen_) return tw::TWRC_FAILURE;
    app.id = 1;  // the manager gives the application its id
    openedWith_ = app;
    dsmOpen_ = true;
    next_ = 0;
    return tw::TWRC_SUCCESS;
  }
  if (!dsmOpen_ || openSource_ >= 0) return tw::TWRC_FAILURE;
  dsmOpen_ = false;
  return tw::TWRC_SUCCESS;
}

std::uint16_t SimTwain::Identity(platform::TwainLibrary, TwIdentity& app, std::uint16_t msg,
                                 TwIdentity& source) {
  std::wstring line = msg == tw::MSG_GETFIRST  ? L"GETFIRST"
                      : msg == tw::MSG_GETNEXT ? L"GETNEXT"
                      : msg == tw::MSG_OPENDS ? L"OPENDS " + platform::WidenUtf8(source.productName)
                                              : L"CLOSEDS";
  if (Enter("DsmIdentity", line) != tw::TWRC_SUCCESS) return tw::TWRC_FAILURE;
  std::lock_guard lock(mutex_);
  if (!dsmOpen_ || app.id != openedWith_.id) return tw::TWRC_FAILURE;
  if (msg == tw::MSG_GETFIRST || msg == tw::MSG_GETNEXT) {
    if (msg == tw::MSG_GETFIRST) next_ = 0;
    if (next_ >= sources_.size()) return tw::TWRC_ENDOFLIST;
    source = TwIdentity{};
    source.id = static_cast<std::uint32_t>(100 + next_);
    source.productName = sources_[next_].productName;
    ++next_;
    return tw::TWRC_SUCCESS;
  }
  if (msg == tw::MSG_OPENDS) {
    const std::size_t index = source.id - 100;
    if (openSource_ >= 0 || source.id < 100 || index >= sources_.size() || !sources_[index].opens) {
      return tw::TWRC_FAILURE;
    }
    openSource_ = static_cast<int>(index);
    transfersMade_ = 0;
    return tw::TWRC_SUCCESS;
  }
  if (openSource_ < 0 || enabled_ || source.id != static_cast<std::uint32_t>(100 + openSource_)) {
    return tw::TWRC_FAILURE;
  }
  openSource_ = -1;
  return tw::TWRC_SUCCESS;
}

std::uint16_t SimTwain::UserInterface(platform::TwainLibrary, TwIdentity&, TwIdentity& source,
                                      std::uint16_t msg, bool showUi, bool modalUi,
                                      platform::WindowHandle parent) {
  const bool enable = msg == tw::MSG_ENABLEDS;
  const std::wstring flags =
      std::to_wstring(showUi ? 1 : 0) + L" " + std::to_wstring(modalUi ? 1 : 0);
  if (Enter("DsmUserInterface", (enable ? L"ENABLEDS " : L"DISABLEDS ") + flags) !=
      tw::TWRC_SUCCESS) {
    return tw::TWRC_FAILURE;
  }
  std::lock_guard lock(mutex_);
  if (openSource_ < 0 || source.id != static_cast<std::uint32_t>(100 + openSource_)) {
    return tw::TWRC_FAILURE;
  }
  if (!enable) {
    if (!enabled_) return tw::TWRC_FAILURE;
    enabled_ = false;
    queue_.clear();
    return tw::TWRC_SUCCESS;
  }
  const Source& device = sources_[static_cast<std::size_t>(openSource_)];
  if (enabled_ || !device.enables || parent == 0) return tw::TWRC_FAILURE;
  enabled_ = true;
  pending_ = device.pending;
  // A message of the program's own first, then the source's event.
  queue_.push_back(ThreadMessage{parent, 0x0113, 1, 0, 0, 0, 0});
  if (device.event != 0) queue_.push_back(ThreadMessage{parent, kSourceMessage, 0, 0, 0, 0, 0});
  quit_ = quitWhenEnabled_;
  return tw::TWRC_SUCCESS;
}

std::uint16_t SimTwain::ProcessEvent(platform::TwainLibrary, TwIdentity&, TwIdentity&,
                                     const ThreadMessage& message, std::uint16_t* twMessage) {
  *twMessage = 0;
  if (Enter("DsmProcessEvent", L"PROCESSEVENT") != tw::TWRC_SUCCESS) return tw::TWRC_FAILURE;
  std::lock_guard lock(mutex_);
  if (!enabled_ || message.message != kSourceMessage) return tw::TWRC_NOTDSEVENT;
  *twMessage = sources_[static_cast<std::size_t>(openSource_)].event;
  return tw::TWRC_DSEVENT;
}

std::uint16_t SimTwain::Status(platform::TwainLibrary, TwIdentity&, TwIdentity*,
                               std::uint16_t* conditionCode) {
  *conditionCode = 0;
  if (Enter("DsmStatus", L"STATUS") != tw::TWRC_SUCCESS) return tw::TWRC_FAILURE;
  *conditionCode = 1;  // TWCC_BUMMER
  return tw::TWRC_SUCCESS;
}

std::uint16_t SimTwain::ImageInfo(platform::TwainLibrary, TwIdentity&, TwIdentity&) {
  if (Enter("DsmImageInfo", L"IMAGEINFO") != tw::TWRC_SUCCESS) return tw::TWRC_FAILURE;
  std::lock_guard lock(mutex_);
  if (!enabled_ || pending_ == 0) return tw::TWRC_FAILURE;
  return sources_[static_cast<std::size_t>(openSource_)].imageInfoFails ? tw::TWRC_FAILURE
                                                                        : tw::TWRC_SUCCESS;
}

std::uint16_t SimTwain::NativeTransfer(platform::TwainLibrary, TwIdentity&, TwIdentity&,
                                       platform::TwainImage* image) {
  *image = 0;
  if (Enter("DsmNativeTransfer", L"NATIVEXFER") != tw::TWRC_SUCCESS) return tw::TWRC_FAILURE;
  std::lock_guard lock(mutex_);
  if (!enabled_ || pending_ == 0) return tw::TWRC_FAILURE;
  const auto& answers = sources_[static_cast<std::size_t>(openSource_)].transfers;
  const std::uint16_t answer =
      answers.empty() ? tw::TWRC_XFERDONE : answers[std::min(transfersMade_, answers.size() - 1)];
  ++transfersMade_;
  if (answer == tw::TWRC_XFERDONE) {
    *image = nextHandle_++;
    ++liveImages_;
  }
  return answer;
}

std::uint16_t SimTwain::PendingTransfers(platform::TwainLibrary, TwIdentity&, TwIdentity&,
                                         std::uint16_t msg, std::uint16_t* count) {
  const bool end = msg == tw::MSG_ENDXFER;
  if (Enter("DsmPendingTransfers", end ? L"ENDXFER" : L"RESET") != tw::TWRC_SUCCESS) {
    return tw::TWRC_FAILURE;
  }
  std::lock_guard lock(mutex_);
  if (!enabled_) return tw::TWRC_FAILURE;
  pending_ = end && pending_ > 0 ? static_cast<std::uint16_t>(pending_ - 1) : 0;
  *count = pending_;
  return tw::TWRC_SUCCESS;
}

void SimTwain::FreeImage(platform::TwainImage image) {
  std::lock_guard lock(mutex_);
  if (image != 0 && liveImages_ > 0) --liveImages_;
}

std::wstring SimTwain::AnsiToWide(const std::string& text) {
  std::wstring wide;
  for (const char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

platform::WindowHandle SimTwain::CreateParentWindow() {
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"Window");
  ++liveWindows_;
  return nextHandle_++;
}

void SimTwain::DestroyWindow(platform::WindowHandle) {
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"DestroyWindow");
  if (liveWindows_ > 0) --liveWindows_;
}

void SimTwain::SetWindowZOrder(platform::WindowHandle, bool bottom) {
  std::lock_guard lock(mutex_);
  calls_log_.push_back(bottom ? L"ZOrder bottom" : L"ZOrder top");
}

MessageWait SimTwain::GetMessage(ThreadMessage* message, std::uint32_t timeoutMs) {
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
      *message = queue_.front();
      queue_.pop_front();
      return MessageWait::Message;
    }
    if (quit_) return MessageWait::Quit;
  }
  // Nothing comes: the wait takes its whole time on the simulated clock.
  clock_.Advance(timeoutMs);
  return MessageWait::Timeout;
}

void SimTwain::DispatchMessage(const ThreadMessage&) {
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"Dispatch");
}

void SimTwain::InstallLibrary(const std::wstring& path, bool hasEntry) {
  files_.PutFile(path, {'M', 'Z'});
  std::lock_guard lock(mutex_);
  libraries_[platform::ToLowerOrdinal(path)] = hasEntry;
}

void SimTwain::AddSource(Source source) {
  std::lock_guard lock(mutex_);
  sources_.push_back(std::move(source));
}

void SimTwain::SetManagerOpens(bool opens) {
  std::lock_guard lock(mutex_);
  managerOpens_ = opens;
}

void SimTwain::QuitWhenEnabled(bool quit) {
  std::lock_guard lock(mutex_);
  quitWhenEnabled_ = quit;
}

std::vector<std::wstring> SimTwain::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_log_;
}

TwIdentity SimTwain::OpenedWith() const {
  std::lock_guard lock(mutex_);
  return openedWith_;
}

bool SimTwain::LibraryLoaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

bool SimTwain::DsmOpen() const {
  std::lock_guard lock(mutex_);
  return dsmOpen_;
}

bool SimTwain::SourceOpen() const {
  std::lock_guard lock(mutex_);
  return openSource_ >= 0;
}

std::size_t SimTwain::LiveImages() const {
  std::lock_guard lock(mutex_);
  return liveImages_;
}

std::size_t SimTwain::LiveWindows() const {
  std::lock_guard lock(mutex_);
  return liveWindows_;
}

}  // namespace kvd::sim
