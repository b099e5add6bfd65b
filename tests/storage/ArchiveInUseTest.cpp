// An archive entry unpacked over a file that a running program holds open.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Flags.h"
#include "storage/Archive.h"
#include "support/TestSupport.h"
#include "system/Win32Handle.h"

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// The restart's pending renames, read and then put back as found.
std::string TakePendingRenames(bool& present) {
  HKEY key;
  present = false;
  std::string data;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return data;
  DWORD size = 0;
  if (RegQueryValueExA(key, kPendingRenames, NULL, NULL, NULL, &size) == ERROR_SUCCESS) {
    data.resize(size);
    present = RegQueryValueExA(key, kPendingRenames, NULL, NULL,
                               reinterpret_cast<BYTE*>(&data[0]), &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return data;
}

void PutPendingRenames(bool present, const std::string& data) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (present)
    RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  else
    RegDeleteValueA(key, kPendingRenames);
  RegCloseKey(key);
}

TEST(ArchiveInUse, EntryOverAnOpenFileWaitsForTheRestart) {
  CTemporaryFolder temp;
  CScriptedInteraction interaction;
  ResetFlags();
  std::string folder = temp.Path() + "files\\";
  CreateDirectoryA(folder.c_str(), NULL);
  WriteWholeFile(folder + "app.dat", "new settings");
  {
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Open(temp.Path() + "restore.zip", temp.Path(), false, std::nullopt, 6));
    ASSERT_TRUE(writer.AddFileAs(folder + "app.dat", "Program"));
    ASSERT_TRUE(writer.Close());
  }
  WriteWholeFile(folder + "app.dat", "old settings");

  bool hadPending;
  std::string pending = TakePendingRenames(hadPending);
  bool unpacked;
  {
    CHandle held(CreateFileA((folder + "app.dat").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                             0, NULL));
    ASSERT_TRUE(held.Valid());
    ArchiveReader reader(temp.Path() + "restore.zip", true, NULL);
    unpacked = reader.UnpackFile("Program\\app.dat", folder + "app.dat");
  }
  bool nowPending;
  std::string renames = TakePendingRenames(nowPending);
  PutPendingRenames(hadPending, pending);

  EXPECT_TRUE(unpacked);
  EXPECT_EQ("old settings", ReadWholeFile(folder + "app.dat"));
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "FIU*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  names.push_back(data.cFileName);
  FindClose(find);
  EXPECT_EQ("new settings", ReadWholeFile(folder + names[0]));
  EXPECT_NE(std::string::npos, renames.find(names[0]));
  EXPECT_TRUE(RebootNeeded());
  ResetFlags();
}

}  // namespace
