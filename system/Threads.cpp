#include "system/Threads.h"

#include <exception>
#include <utility>

#include "logging/Trace.h"

KVD_TRACE_SOURCE();

namespace {
namespace kind = DUDiduzuz::kind;
using kvd::platform::SyncHandle;
namespace wait = kvd::platform::wait;

// How often a thread without an ended event is looked at while its group waits for it.
constexpr std::uint32_t kPollMs = 10;
}  // namespace

struct CThreadGroup::Thread::State {
  State(kvd::platform::ISync& ports, std::uintptr_t number) : sync(ports), id(number) {
    endedEvent = sync.CreateEvent(true, false, nullptr);
  }
  ~State() {
    if (endedEvent != 0) sync.CloseHandle(endedEvent);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  kvd::platform::ISync& sync;
  const std::uintptr_t id;
  SyncHandle endedEvent = 0;
  std::atomic<bool> ended{false};
};

std::uintptr_t CThreadGroup::Thread::Id() const { return m_state ? m_state->id : 0; }

bool CThreadGroup::Thread::HasEnded() const { return !m_state || m_state->ended.load(); }

SyncHandle CThreadGroup::Thread::EndedEvent() const { return m_state ? m_state->endedEvent : 0; }

CThreadGroup::CThreadGroup(kvd::platform::Platform& platform) : m_platform(platform) {
  m_stopEvent = platform.sync.CreateEvent(true, false, nullptr);
}

CThreadGroup::~CThreadGroup() {
  RequestStop();
  JoinAll();
  if (m_stopEvent != 0) m_platform.sync.CloseHandle(m_stopEvent);
}

CThreadGroup::Thread CThreadGroup::Start(const wchar_t* name, std::function<void()> body) {
  Reap();
  std::lock_guard<std::mutex> lock(m_lock);
  auto state = std::make_shared<Thread::State>(m_platform.sync, m_nextId++);
  kvd::platform::ISync& sync = m_platform.sync;
  std::thread thread([state, name, &sync, body = std::move(body)]() mutable {
    try {
      body();
    } catch (const std::exception& e) {
      KVD_SCOPE(L"CThreadGroup::ThreadEntry");
      KVD_LOG(kind::Error, L"The thread %s ended with an exception: %S", name, e.what());
    } catch (...) {
      KVD_SCOPE(L"CThreadGroup::ThreadEntry");
      KVD_LOG(kind::Error, L"The thread %s ended with an exception.", name);
    }
    // What the body holds goes before the end is announced: whoever waits for the end may then
    // free what it used.
    body = nullptr;
    state->ended = true;
    if (state->endedEvent != 0) sync.SetEvent(state->endedEvent);
  });
  m_threads.push_back({state, std::move(thread)});
  return Thread(std::move(state));
}

CThreadGroup::Thread CThreadGroup::Find(std::uintptr_t id) const {
  std::lock_guard<std::mutex> lock(m_lock);
  for (const Entry& entry : m_threads) {
    if (entry.state->id == id) return Thread(entry.state);
  }
  return Thread();
}

void CThreadGroup::RequestStop() {
  m_bStopRequested = true;
  if (m_stopEvent != 0) m_platform.sync.SetEvent(m_stopEvent);
}

std::size_t CThreadGroup::Reap() {
  std::vector<std::thread> ended;
  std::size_t running = 0;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_threads.begin(); it != m_threads.end();) {
      if (it->state->ended.load()) {
        ended.push_back(std::move(it->thread));
        it = m_threads.erase(it);
      } else {
        ++running;
        ++it;
      }
    }
  }
  // Outside the lock: a thread that has announced its end only has its last steps left.
  for (auto& thread : ended) thread.join();
  return running;
}

std::size_t CThreadGroup::Running() const {
  std::lock_guard<std::mutex> lock(m_lock);
  std::size_t running = 0;
  for (const Entry& entry : m_threads) running += entry.state->ended.load() ? 0 : 1;
  return running;
}

std::size_t CThreadGroup::Held() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_threads.size();
}

std::size_t CThreadGroup::WaitForAll(std::uint32_t milliseconds) {
  std::vector<std::shared_ptr<Thread::State>> states;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Entry& entry : m_threads) states.push_back(entry.state);
  }
  kvd::platform::IClock& clock = m_platform.clock;
  const std::uint32_t start = clock.GetTickCount();
  const auto left = [&]() -> std::uint32_t {
    const std::uint32_t elapsed = clock.GetTickCount() - start;
    return elapsed >= milliseconds ? 0 : milliseconds - elapsed;
  };
  for (const auto& state : states) {
    if (state->endedEvent != 0) {
      if (!state->ended.load()) m_platform.sync.WaitForSingleObject(state->endedEvent, left());
      continue;
    }
    while (!state->ended.load() && left() > 0) clock.Sleep(kPollMs);
  }
  return Reap();
}

void CThreadGroup::JoinAll() {
  std::vector<Entry> threads;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    threads.swap(m_threads);
  }
  for (auto& entry : threads) {
    if (entry.thread.joinable()) entry.thread.join();
  }
}
