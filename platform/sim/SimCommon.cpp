#include "platform/sim/SimCommon.h"

#include <algorithm>
#include <stdexcept>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace {
struct ThreadLifeHolder {
  std::shared_ptr<ThreadLife> life = std::make_shared<ThreadLife>();
  ~ThreadLifeHolder() { life->alive.store(false); }
};
}  // namespace

std::shared_ptr<ThreadLife> CurrentThread() {
  thread_local ThreadLifeHolder holder;
  return holder.life;
}

std::optional<std::uint32_t> SimCalls::Enter(std::string_view method) {
  std::unique_lock lock(mutex_);
  auto count = counts_.find(method);
  if (count == counts_.end()) count = counts_.emplace(std::string(method), 0).first;
  const std::uint64_t call = ++count->second;
  auto hangs = hangs_.find(method);
  if (hangs != hangs_.end()) {
    auto& calls = hangs->second;
    const auto hang = std::find(calls.begin(), calls.end(), call);
    if (hang != calls.end()) {
      calls.erase(hang);
      ++hung_;
      released_.wait(lock, [this] { return hangsReleased_; });
      --hung_;
    }
  }
  auto faults = faults_.find(method);
  if (faults == faults_.end()) return std::nullopt;
  auto& list = faults->second;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (call == it->at || (it->persistent && call > it->at)) {
      const std::uint32_t code = it->code;
      if (!it->persistent) list.erase(it);
      return code;
    }
  }
  return std::nullopt;
}

void SimCalls::Inject(std::string_view method, int nth, std::uint32_t code, bool persistent) {
  if (nth < 1) throw std::invalid_argument("InjectFault: nth counts from 1");
  std::lock_guard lock(mutex_);
  auto count = counts_.find(method);
  const std::uint64_t done = count == counts_.end() ? 0 : count->second;
  auto faults = faults_.find(method);
  if (faults == faults_.end())
    faults = faults_.emplace(std::string(method), std::vector<Fault>{}).first;
  faults->second.push_back(Fault{done + static_cast<std::uint64_t>(nth), code, persistent});
}

void SimCalls::InjectHang(std::string_view method, int nth) {
  if (nth < 1) throw std::invalid_argument("InjectHang: nth counts from 1");
  std::lock_guard lock(mutex_);
  auto count = counts_.find(method);
  const std::uint64_t done = count == counts_.end() ? 0 : count->second;
  hangs_[std::string(method)].push_back(done + static_cast<std::uint64_t>(nth));
  hangsReleased_ = false;
}

void SimCalls::ReleaseHangs() {
  {
    std::lock_guard lock(mutex_);
    hangsReleased_ = true;
    hangs_.clear();
  }
  released_.notify_all();
}

std::size_t SimCalls::HungCalls() const {
  std::lock_guard lock(mutex_);
  return hung_;
}

void SimCalls::Clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::uint64_t SimCalls::Count(std::string_view method) const {
  std::lock_guard lock(mutex_);
  auto count = counts_.find(method);
  return count == counts_.end() ? 0 : count->second;
}

std::wstring ToUpperOrdinal(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out) {
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      c = static_cast<wchar_t>(c - 32);
    }
  }
  return out;
}

std::uint32_t CopyOrNeeded(std::wstring_view text, wchar_t* buffer, std::uint32_t chars) {
  const auto length = static_cast<std::uint32_t>(text.size());
  if (buffer == nullptr || chars <= length) return length + 1;
  std::copy(text.begin(), text.end(), buffer);
  buffer[length] = L'\0';
  return length;
}

}  // namespace kvd::sim
