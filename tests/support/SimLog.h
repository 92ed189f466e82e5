#pragma once

#include <string>
#include <vector>

#include "logging/DUDiduzuz.h"
#include "platform/sim/SimMachine.h"

namespace kvd::test {

// The trace log of a simulated machine, written to its debugger output only (every category)
// and read back as records, for tests that take the log's fixed texts as their oracle. One at a
// time: it is the process's current logger while it lives.
class SimLog {
 public:
  explicit SimLog(sim::SimMachine& sim) : sim_(sim) {
    const std::wstring key = L"Software\\QV\\NG\\Logging\\kavid.exe";
    sim.Registry().PutDword(platform::kHkeyCurrentUser, key, L"LogCategories", 0x3F00FFF0);
    sim.Registry().PutDword(platform::kHkeyCurrentUser, key, L"LogOptions", 0x80000);
    DUDiduzuz::CLogModule::SetCurrent(&logger_);
  }
  ~SimLog() { DUDiduzuz::CLogModule::SetCurrent(nullptr); }
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  struct Record {
    std::wstring tag;   // "I0", "DB", "##", "->", "<-"
    std::wstring text;  // without its indentation
  };

  // The records written since the last call. A record reaches the debugger output in pieces
  // (prefix, indentation, text, CR LF): one that a thread is still writing when this is called
  // is kept for the next call, so that its pieces are never taken for another record's.
  std::vector<Record> Take() {
    std::vector<Record> records;
    for (auto& piece : sim_.Debug().Take()) pending_.push_back(std::move(piece));
    std::size_t start = 0;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (pending_[i] != L"\r\n") continue;
      const std::wstring& prefix = pending_[start];
      const std::size_t open = prefix.rfind(L'(');
      const std::size_t close = prefix.rfind(L')');
      std::wstring tag;
      if (open != std::wstring::npos && close != std::wstring::npos && close > open) {
        tag = prefix.substr(open + 1, close - open - 1);
      }
      records.push_back({tag, i > start ? pending_[i - 1] : std::wstring()});
      start = i + 1;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    return records;
  }

  // Whether one of `records` has that tag and text.
  static bool Contains(const std::vector<Record>& records, const std::wstring& tag,
                       const std::wstring& text) {
    for (const auto& record : records) {
      if (record.tag == tag && record.text == text) return true;
    }
    return false;
  }

  // The texts of the records of one tag since the last call.
  std::vector<std::wstring> Texts(const std::wstring& tag) {
    std::vector<std::wstring> texts;
    for (auto& record : Take()) {
      if (record.tag == tag) texts.push_back(std::move(record.text));
    }
    return texts;
  }

 private:
  sim::SimMachine& sim_;
  std::vector<std::wstring> pending_;
  DUDiduzuz::SettingsStore store_{sim_.Ports().sync};
  DUDiduzuz::CLogModule logger_{sim_.Ports(), store_};
};

}  // namespace kvd::test
