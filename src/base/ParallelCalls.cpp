#include "base/ParallelCalls.h"

#include <algorithm>

CParallelCalls::~CParallelCalls() {
  if (m_threads.empty()) return;
  {
    CLockScope hold(m_lock);
    m_quit = true;
  }
  ReleaseSemaphore(m_go.Get(), static_cast<LONG>(m_threads.size()), NULL);
  for (CHandle& thread : m_threads) WaitForSingleObject(thread.Get(), INFINITE);
}

void CParallelCalls::StartThreads() {
  m_started = true;
  if (m_wanted == 0) return;
  m_go.Reset(CreateSemaphoreA(NULL, 0, 0x7FFFFFFF, NULL));
  m_finished.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
  if (!m_go.Valid() || !m_finished.Valid()) return;
  for (unsigned i = 0; i < m_wanted; ++i) {
    DWORD id = 0;
    CHandle thread(CreateThread(NULL, 0, &CParallelCalls::ThreadMain, this, 0, &id));
    if (!thread.Valid()) break;
    m_threads.push_back(std::move(thread));
  }
}

DWORD WINAPI CParallelCalls::ThreadMain(void* group) {
  static_cast<CParallelCalls*>(group)->ThreadLoop();
  return 0;
}

// Each release of the semaphore is one thread's share of one run; whichever
// thread takes it reports it done, so a run ends when every share it handed
// out has come back.
void CParallelCalls::ThreadLoop() {
  for (;;) {
    WaitForSingleObject(m_go.Get(), INFINITE);
    {
      CLockScope hold(m_lock);
      if (m_quit) return;
    }
    TakeWork();
    CLockScope hold(m_lock);
    if (--m_busy == 0) SetEvent(m_finished.Get());
  }
}

// The index is taken under the lock: the 95 family's InterlockedIncrement
// tells only the sign of the result.
void CParallelCalls::TakeWork() {
  for (;;) {
    std::size_t index;
    const std::function<void(std::size_t)>* work;
    {
      CLockScope hold(m_lock);
      if (m_next >= m_count) return;
      index = m_next++;
      work = m_work;
    }
    try {
      (*work)(index);
    } catch (...) {
      CLockScope hold(m_lock);
      if (!m_failure) m_failure = std::current_exception();
    }
  }
}

void CParallelCalls::Run(std::size_t count, const std::function<void(std::size_t)>& work) {
  if (count == 0) return;
  CLockScope turn(m_turn);
  if (count > 1 && !m_started) StartThreads();
  std::size_t helpers = count > 1 ? std::min(m_threads.size(), count - 1) : 0;
  {
    CLockScope hold(m_lock);
    m_work = &work;
    m_next = 0;
    m_count = count;
    m_busy = helpers;
    m_failure = nullptr;
  }
  if (helpers > 0) ReleaseSemaphore(m_go.Get(), static_cast<LONG>(helpers), NULL);
  TakeWork();
  if (helpers > 0) WaitForSingleObject(m_finished.Get(), INFINITE);
  std::exception_ptr failure;
  {
    CLockScope hold(m_lock);
    m_work = nullptr;
    failure = m_failure;
    m_failure = nullptr;
  }
  if (failure) std::rethrow_exception(failure);
}

CParallelCalls& RegistryCalls() {
  // Never destroyed: its threads wait on to the end of the process.
  static CParallelCalls* calls = new CParallelCalls(kRegistryCallsInFlight);
  return *calls;
}

unsigned FileThreads() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return std::max<unsigned>(2, std::min<unsigned>(system.dwNumberOfProcessors, 8));
}
