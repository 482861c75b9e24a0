#include "engine/persistence/resource_thread.h"

#include <algorithm>
#include <exception>

#include "engine/persistence/resource.h"

namespace dtp {

TdtpResourceThread& TdtpResourceThread::Instance() {
  // Never destroyed: resources may outlive every other static object.
  static TdtpResourceThread* instance = new TdtpResourceThread();
  return *instance;
}

void TdtpResourceThread::Add(TdtpResource* resource) {
  std::lock_guard lock(m_Lock);
  if (std::find(m_List.begin(), m_List.end(), resource) == m_List.end())
    m_List.insert(m_List.begin(), resource);
}

void TdtpResourceThread::Remove(TdtpResource* resource) {
  std::lock_guard lock(m_Lock);
  std::erase(m_List, resource);
}

void TdtpResourceThread::Touch(TdtpResource* resource) {
  std::lock_guard lock(m_Lock);
  if (m_List.empty() || m_List.front() == resource) return;
  const auto it = std::find(m_List.begin(), m_List.end(), resource);
  if (it == m_List.end()) return;
  std::rotate(m_List.begin(), it, it + 1);
  ++m_Touches;
}

void TdtpResourceThread::Trim() {
  std::lock_guard lock(m_Lock);
  ++m_TrimCount;
  if (static_cast<int>(m_List.size()) <= m_MaxDecoded) return;
  // Unload may not reorder the list (it touches nothing), but a copy keeps the walk safe
  // whatever a resource does.
  const std::vector<TdtpResource*> list = m_List;
  int64_t sum = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    TdtpResource* r = list[i];
    if (m_Budget < sum || static_cast<int>(i) >= m_MaxDecoded) {
      try {
        r->Unload();
      } catch (const std::exception&) {
        // A change that cannot be encoded or written now stays in memory; the next trim
        // tries again.
      }
    } else {
      sum += r->Data().Size() + r->ObjectSize();
    }
  }
}

void TdtpResourceThread::Execute() {
  using namespace std::chrono;
  std::unique_lock stop(m_StopLock);
  while (!m_Terminated) {
    stop.unlock();
    {
      std::lock_guard lock(m_Lock);
      const auto now = steady_clock::now();
      if (now - m_LastTrim > milliseconds(m_TrimIntervalMs) && m_Touches > m_TouchThreshold) {
        Trim();
        m_LastTrim = now;
        m_Touches = 0;
      }
    }
    stop.lock();
    m_StopSignal.wait_for(stop, milliseconds(kSleepMs), [this] { return m_Terminated; });
  }
}

void TdtpResourceThread::Start() {
  std::lock_guard lock(m_Lock);
  if (m_Worker.joinable()) return;
  {
    std::lock_guard stop(m_StopLock);
    m_Terminated = false;
  }
  m_LastTrim = std::chrono::steady_clock::now();
  m_Touches = 0;
  m_Worker = std::thread([this] { Execute(); });
}

void TdtpResourceThread::Stop() {
  {
    std::lock_guard stop(m_StopLock);
    m_Terminated = true;
  }
  m_StopSignal.notify_all();
  // Joined outside the resource lock: the worker may be waiting for it.
  if (m_Worker.joinable()) m_Worker.join();
}

void TdtpResourceThread::SetMemoryBudget(int64_t bytes) {
  std::lock_guard lock(m_Lock);
  m_Budget = bytes;
}

void TdtpResourceThread::SetMaxDecoded(int count) {
  std::lock_guard lock(m_Lock);
  m_MaxDecoded = count;
}

void TdtpResourceThread::SetTrimInterval(int milliseconds) {
  std::lock_guard lock(m_Lock);
  m_TrimIntervalMs = milliseconds;
}

void TdtpResourceThread::SetTouchThreshold(int count) {
  std::lock_guard lock(m_Lock);
  m_TouchThreshold = count;
}

void TdtpResourceThread::RestoreDefaults() {
  std::lock_guard lock(m_Lock);
  m_Budget = kMemoryBudget;
  m_MaxDecoded = kMaxDecoded;
  m_TrimIntervalMs = kTrimIntervalMs;
  m_TouchThreshold = kTouchThreshold;
}

int TdtpResourceThread::ResourceCount() {
  std::lock_guard lock(m_Lock);
  return static_cast<int>(m_List.size());
}

bool TdtpResourceThread::IsListed(const TdtpResource* resource) {
  return IndexOf(resource) >= 0;
}

int TdtpResourceThread::IndexOf(const TdtpResource* resource) {
  std::lock_guard lock(m_Lock);
  const auto it = std::find(m_List.begin(), m_List.end(), resource);
  return it == m_List.end() ? -1 : static_cast<int>(it - m_List.begin());
}

void LockResources() {
  TdtpResourceThread::Instance().Lock().lock();
}

void UnlockResources() {
  TdtpResourceThread::Instance().Lock().unlock();
}

void TrimResources() {
  TdtpResourceThread::Instance().Trim();
}

void StartResourceThread() {
  TdtpResourceThread::Instance().Start();
}

void StopResourceThread() {
  TdtpResourceThread::Instance().Stop();
}

} // namespace dtp
