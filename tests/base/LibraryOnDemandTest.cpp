#include "base/Win32Handle.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

typedef DWORD(WINAPI* VersionFunction)();

// The library comes with the first entry asked for, not with the owner,
// and stays: later calls find the same entry without loading it again.
TEST(LibraryOnDemand, LoadsAtTheFirstEntryAskedForAndKeepsTheLibrary) {
  // A system library nothing in this program imports or loads.
  const char kName[] = "msacm32.dll";
  ASSERT_TRUE(GetModuleHandleA(kName) == NULL) << "loaded already: the test proves nothing";
  CLibraryOnDemand library(kName);
  EXPECT_TRUE(GetModuleHandleA(kName) == NULL);

  VersionFunction version = library.Find<VersionFunction>("acmGetVersion");
  ASSERT_NE(nullptr, version);
  HMODULE loaded = GetModuleHandleA(kName);
  EXPECT_TRUE(loaded != NULL);
  EXPECT_NE(0u, version());
  EXPECT_EQ(version, library.Find<VersionFunction>("acmGetVersion"));
  EXPECT_EQ(loaded, GetModuleHandleA(kName));
}

// A missing library or entry is nothing to call, with the reason as the
// thread's last error, every time it is asked for.
TEST(LibraryOnDemand, MissingLibraryOrEntryGivesNothingToCall) {
  CLibraryOnDemand missing("qm-no-such-library.dll");
  for (int ask = 0; ask < 2; ++ask) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(nullptr, missing.Find<VersionFunction>("acmGetVersion"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  }
  CLibraryOnDemand kernel("kernel32.dll");
  EXPECT_EQ(nullptr, kernel.Find<VersionFunction>("QmNoSuchEntry"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  EXPECT_NE(nullptr, kernel.Find<VersionFunction>("GetTickCount"));
}

}  // namespace
