#include "base/ParallelCalls.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Every index is called exactly once per run, from more than one thread
// when the calls wait, and a group serves run after run.
TEST(ParallelCalls, EachIndexOnceAndOnSeveralThreads) {
  CParallelCalls calls(kRegistryCallsInFlight);
  for (std::size_t count : {1u, 2u, 7u, 500u}) {
    std::vector<LONG> seen(count, 0);
    CCriticalSection lock;
    std::vector<DWORD> threads;
    calls.Run(count, [&](std::size_t i) {
      InterlockedIncrement(&seen[i]);
      Sleep(count > 100 ? 0 : 5);
      CLockScope hold(lock);
      DWORD id = GetCurrentThreadId();
      if (std::find(threads.begin(), threads.end(), id) == threads.end()) threads.push_back(id);
    });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(1, seen[i]) << count << " calls, index " << i;
    if (count == 7) {
      EXPECT_GT(threads.size(), 1u);
    }
  }
}

TEST(ParallelCalls, AFailureComesBackAfterTheOtherCalls) {
  for (unsigned threads : {1u, 4u}) {
    CParallelCalls calls(threads);
    LONG done = 0;
    EXPECT_THROW(calls.Run(50,
                           [&](std::size_t i) {
                             if (i == 3) throw std::runtime_error("third");
                             InterlockedIncrement(&done);
                           }),
                 std::runtime_error);
    EXPECT_EQ(49, done) << threads << " threads";
    done = 0;
    calls.Run(10, [&](std::size_t) { InterlockedIncrement(&done); });
    EXPECT_EQ(10, done) << threads << " threads";
  }
}

}  // namespace
