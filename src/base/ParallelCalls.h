// Calls that mostly wait, spread over a few threads. Under Wine every
// registry call is a round trip to the server process, and several calls in
// flight at once take hardly longer than one; on Windows the threads cost
// little. The threads start with the first run that has work for them and
// stay until the owner goes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "base/Lock.h"
#include "base/Win32Handle.h"

// How many registry calls the storage code keeps in flight at once.
const unsigned kRegistryCallsInFlight = 8;

// How many threads share out the making of files: one per processor, and
// two on one, since a file costs waiting as well as work; eight at most.
// Under Wine on two processors, two threads unpack a tree of small files in
// 0.6 of the time of one, and four take longer than one.
unsigned FileThreads();

class CParallelCalls {
 public:
  // `threads` counts the calling thread: 1 runs everything on it.
  explicit CParallelCalls(unsigned threads) : m_wanted(threads > 0 ? threads - 1 : 0) {}
  ~CParallelCalls();
  CParallelCalls(const CParallelCalls&) = delete;
  CParallelCalls& operator=(const CParallelCalls&) = delete;

  // Calls work(0) ... work(count - 1), each once, on the calling thread and
  // the group's threads, and returns when every call has returned. Calls
  // for different indexes may run at the same time in any order. The first
  // exception a call throws is thrown again here; the other calls still
  // run. Without threads (CreateThread failing) the calls run in order on
  // the calling thread. Runs from several threads take turns; a call must
  // not start a run of its own group.
  void Run(std::size_t count, const std::function<void(std::size_t)>& work);

 private:
  static DWORD WINAPI ThreadMain(void* group);
  void StartThreads();
  void ThreadLoop();
  // Takes indexes until none is left.
  void TakeWork();

  unsigned m_wanted;
  bool m_started = false;
  std::vector<CHandle> m_threads;
  CHandle m_go, m_finished;
  CCriticalSection m_turn;  // held for a whole run
  CCriticalSection m_lock;
  // Under the lock:
  const std::function<void(std::size_t)>* m_work = nullptr;
  std::size_t m_next = 0, m_count = 0;
  std::size_t m_busy = 0;  // threads released for this run and not yet done
  std::exception_ptr m_failure;
  bool m_quit = false;
};

// What the calls of a group work with (a reader, a block), one call at a
// time each: a call takes one, made when none is idle, and gives it back.
template <typename T>
class CCallResources {
 public:
  T& Take() {
    CLockScope hold(m_lock);
    if (m_idle.empty()) {
      m_all.emplace_back(new T());
      return *m_all.back();
    }
    T* item = m_idle.back();
    m_idle.pop_back();
    return *item;
  }
  void Give(T& item) {
    CLockScope hold(m_lock);
    m_idle.push_back(&item);
  }

 private:
  CCriticalSection m_lock;
  std::vector<std::unique_ptr<T>> m_all;
  std::vector<T*> m_idle;
};

// The group the registry's readers and writers share, made on first use and
// kept until the process ends: starting threads for every key exported would
// cost more than the calls they save.
CParallelCalls& RegistryCalls();
