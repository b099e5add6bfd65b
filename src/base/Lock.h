// A critical section that lives as long as its owner, and a scope that holds
// it. Critical sections are there on every Windows this runs on.
#pragma once

#include <windows.h>

class CCriticalSection {
 public:
  CCriticalSection() { InitializeCriticalSection(&m_section); }
  ~CCriticalSection() { DeleteCriticalSection(&m_section); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&m_section); }
  void Leave() { LeaveCriticalSection(&m_section); }

 private:
  CRITICAL_SECTION m_section;
};

// Holds the lock for one scope.
class CLockScope {
 public:
  explicit CLockScope(CCriticalSection& lock) : m_lock(lock) { m_lock.Enter(); }
  ~CLockScope() { m_lock.Leave(); }
  CLockScope(const CLockScope&) = delete;
  CLockScope& operator=(const CLockScope&) = delete;

 private:
  CCriticalSection& m_lock;
};
