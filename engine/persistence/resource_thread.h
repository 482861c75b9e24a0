#pragma once
// The resource loader thread: one per process. It keeps the list of every live resource,
// most recently used first, and now and then trims the list so that at most ten decoded
// pictures stay in memory, within a memory budget. The resources and the thread share one
// re-entrant lock; the document holds it while it loads or saves, so the thread never
// works on a resource or the card container in the middle of such an operation.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace dtp {

class TdtpResource;

class TdtpResourceThread {
public:
  static constexpr int64_t kMemoryBudget = 104857600;
  static constexpr int kMaxDecoded = 10;
  static constexpr int kTrimIntervalMs = 2000;
  static constexpr int kTouchThreshold = 20;
  static constexpr int kSleepMs = 10;

  // The process's one instance; it lives until the process ends.
  static TdtpResourceThread& Instance();

  std::recursive_mutex& Lock() { return m_Lock; }

  // List maintenance, each under the lock.
  void Add(TdtpResource* resource);
  void Remove(TdtpResource* resource);
  // Moves the resource to the front and counts one touch.
  void Touch(TdtpResource* resource);
  // Unloads every resource past the first kMaxDecoded or past the budget.
  void Trim();

  // Starts the worker; does nothing when it runs already.
  void Start();
  // Tells the worker to end and waits for it.
  void Stop();
  bool Running() const { return m_Worker.joinable(); }

  // Tuning, for tests and for hosts with other needs; the defaults are the constants above.
  void SetMemoryBudget(int64_t bytes);
  void SetMaxDecoded(int count);
  void SetTrimInterval(int milliseconds);
  void SetTouchThreshold(int count);
  void RestoreDefaults();

  // Observation, under the lock.
  int ResourceCount();
  int TrimCount() const { return m_TrimCount.load(); }
  bool IsListed(const TdtpResource* resource);
  int IndexOf(const TdtpResource* resource);

private:
  TdtpResourceThread() = default;
  void Execute();

  std::recursive_mutex m_Lock;
  std::vector<TdtpResource*> m_List; // most recently used first
  std::chrono::steady_clock::time_point m_LastTrim = std::chrono::steady_clock::now();
  int m_Touches = 0;
  int64_t m_Budget = kMemoryBudget;
  int m_MaxDecoded = kMaxDecoded;
  int m_TrimIntervalMs = kTrimIntervalMs;
  int m_TouchThreshold = kTouchThreshold;
  std::atomic<int> m_TrimCount{0};

  std::thread m_Worker;
  std::mutex m_StopLock;
  std::condition_variable m_StopSignal;
  bool m_Terminated = false;
};

// The global resource lock and an immediate trim.
void LockResources();
void UnlockResources();
void TrimResources();
// Start and end of the engine: the host starts the thread once and ends it at shutdown.
void StartResourceThread();
void StopResourceThread();

// Holds the global resource lock for a scope.
class TResourcesGuard {
public:
  TResourcesGuard() { LockResources(); }
  ~TResourcesGuard() { UnlockResources(); }
  TResourcesGuard(const TResourcesGuard&) = delete;
  TResourcesGuard& operator=(const TResourcesGuard&) = delete;
};

} // namespace dtp
