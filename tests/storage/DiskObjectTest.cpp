#include "storage/DiskObject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/FileReplace.h"
#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "support/TestRun.h"
#include "support/TestSupport.h"

namespace {

// Answers the overwrite question from a script; no script left means cancel.
struct ScriptedQuestion : CTestRun {
  std::deque<OverwriteAnswer> answers;
  std::vector<std::string> asked;

  bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) override {
    asked.push_back(path);
    if (answers.empty()) return false;
    answer = answers.front();
    answers.pop_front();
    return true;
  }
};

// Runs an action when a message box is shown, then answers it.
class CActingInteraction : public CScriptedInteraction {
 public:
  std::function<void()> action;
  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                     UINT style) override {
    if (action) action();
    return CScriptedInteraction::ShowMessageBox(owner, text, caption, style);
  }
};

// Keeps a file open with no sharing, as a running program would.
CHandle HoldOpen(const std::string& path) {
  return CHandle(CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
}

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  CDiskObject disk(false, NULL);
  disk.ListAllFiles(folder, names);
  return names;
}

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetWizardMode(true);  // questions go to the scripted message box
    disk.SetRunCallback(&question);
  }
  void TearDown() override { ResetFlags(); }

  std::string Path(const std::string& name) const { return temp.Path() + name; }
  std::string Make(const std::string& name, const std::string& data) {
    std::string path = Path(name);
    CDiskObject(false, NULL).CreateFolderTree(CDiskObject::FolderOf(path));
    WriteWholeFile(path, data);
    return path;
  }

  CTemporaryFolder temp;
  CScriptedInteraction boxes;
  ScriptedQuestion question;
  CDiskObject disk{false, NULL};
};

// ---------------------------------------------------------------- paths

TEST(DiskPaths, JoinUsesExactlyOneBackslash) {
  EXPECT_EQ("C:\\a\\b", CDiskObject::JoinPath("C:\\a\\", "b"));
  EXPECT_EQ("C:\\a\\b", CDiskObject::JoinPath("C:\\a", "\\b"));
  EXPECT_EQ("C:\\a\\b", CDiskObject::JoinPath("C:\\a", "b"));
  EXPECT_EQ("C:\\a\\b", CDiskObject::JoinPath("C:\\a\\", "\\b"));
  EXPECT_EQ("C:\\a/b", CDiskObject::JoinPath("C:\\a/", "b"));
}

TEST_F(DiskTest, QualifyResolvesAgainstCurrentFolderAndLeavesItAlone) {
  ASSERT_TRUE(disk.CreateFolderTree(Path("x\\y")));
  std::string old = CurrentFolder();
  ASSERT_TRUE(SetCurrentDirectoryA(Path("x\\y").c_str()));
  std::string up = "..\\z/f.txt", rooted = "\\f.txt", relative = "d\\f.txt", other = "D:\\f.txt";
  CDiskObject::QualifyPath(up);
  CDiskObject::QualifyPath(rooted);
  CDiskObject::QualifyPath(relative);
  CDiskObject::QualifyPath(other);
  std::string twoUp = "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\f.txt";
  CDiskObject::QualifyPath(twoUp);
  std::string current = CurrentFolder();
  SetCurrentDirectoryA(old.c_str());

  EXPECT_EQ(Path("x\\z\\f.txt"), up);
  EXPECT_EQ(temp.Path().substr(0, 2) + "\\f.txt", rooted);
  EXPECT_EQ(Path("x\\y\\d\\f.txt"), relative);
  EXPECT_EQ("D:\\f.txt", other);
  EXPECT_EQ(temp.Path().substr(0, 3) + "f.txt", twoUp);  // stops at the root
  EXPECT_EQ(Path("x\\y"), current);
}

TEST(DiskPaths, NetworkPathsStayUnqualified) {
  std::string folder = "//server/share/dir";
  CDiskObject::QualifyFolderPath(folder);
  EXPECT_EQ("\\\\server\\share\\dir\\", folder);
  std::string file = "\\\\server\\share\\f.txt";
  CDiskObject::QualifyPath(file);
  EXPECT_EQ("\\\\server\\share\\f.txt", file);
  EXPECT_EQ("\\\\server\\share\\dir", CDiskObject::FolderOf("\\\\server\\share\\dir\\f.txt"));
  EXPECT_EQ("f.txt", CDiskObject::FileNameOf("\\\\server\\share\\dir\\f.txt"));
}

// ---------------------------------------------------------------- overwrite

TEST_F(DiskTest, OverwriteAnswersApplyAsTheySay) {
  std::string source = Make("s.txt", "new");
  for (const char* name : {"a", "b", "c", "d", "e"}) Make(std::string("t\\") + name, "old");

  question.answers = {OverwriteNo, OverwriteYes, OverwriteYesToAll};
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\a")));  // no: kept
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\b")));  // yes: replaced
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\c")));  // yes to all
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\d")));  // no question now
  EXPECT_EQ(3u, question.asked.size());
  EXPECT_EQ("old", ReadWholeFile(Path("t\\a")));
  EXPECT_EQ("new", ReadWholeFile(Path("t\\b")));
  EXPECT_EQ("new", ReadWholeFile(Path("t\\d")));
  EXPECT_EQ(OverwriteYesToAll, disk.OverwriteMode());

  disk.SetOverwriteMode(OverwriteNo);
  question.answers = {OverwriteNoToAll};
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\e")));
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\a")));
  EXPECT_EQ(4u, question.asked.size());
  EXPECT_EQ("old", ReadWholeFile(Path("t\\e")));
  EXPECT_TRUE(disk.CopyOneFile(source, Path("t\\new")));  // new files still come
  EXPECT_EQ("new", ReadWholeFile(Path("t\\new")));
}

TEST_F(DiskTest, CancelledQuestionStopsEverythingAndKeepsTheTarget) {
  std::string source = Make("s.txt", "new");
  std::string target = Make("t.txt", "old");
  EXPECT_FALSE(disk.CopyOneFile(source, target));
  EXPECT_TRUE(disk.Cancelled());
  EXPECT_EQ("old", ReadWholeFile(target));
  EXPECT_FALSE(disk.CopyFileAs(source, Path("other.txt")));
  EXPECT_FALSE(::FileExists(Path("other.txt")));
}

TEST_F(DiskTest, ProtectedTargetIsReplacedAndTakesTheSourceAttributes) {
  std::string source = Make("s.txt", "new");
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_ARCHIVE);
  std::string target = Make("t.txt", "old");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  question.answers = {OverwriteYes};
  EXPECT_TRUE(disk.CopyOneFile(source, target));
  EXPECT_EQ("new", ReadWholeFile(target));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(target.c_str()));
}

// A new target ends with exactly its source's attributes, whether its
// create call gave them or a call after the copy did.
TEST_F(DiskTest, NewTargetsTakeExactlyTheSourceAttributes) {
  disk.SetOverwriteMode(OverwriteYesToAll);
  const DWORD kCases[] = {
      FILE_ATTRIBUTE_ARCHIVE,
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN,
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM,
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
      FILE_ATTRIBUTE_HIDDEN,
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
  };
  for (DWORD wanted : kCases) {
    std::string name = "attributes" + std::to_string(wanted);
    std::string source = Make(name + "\\source.txt", "data");
    ASSERT_TRUE(SetFileAttributesA(source.c_str(), wanted));
    DWORD attributes = GetFileAttributesA(source.c_str());
    SCOPED_TRACE(attributes);
    std::string target = Path(name + "\\copy\\source.txt");
    EXPECT_TRUE(disk.CopyFileToFolder(source, Path(name + "\\copy"))) << disk.GetErrorText();
    EXPECT_EQ("data", ReadWholeFile(target));
    EXPECT_EQ(attributes, GetFileAttributesA(target.c_str()));
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

// With every answer yes an existing hidden or system target is opened as it
// stands; it still becomes a plain file first and takes the whole copy.
TEST_F(DiskTest, HiddenAndSystemTargetsAreReplacedWhole) {
  std::string source = Make("s.txt", "new");
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  disk.SetOverwriteMode(OverwriteYesToAll);
  const DWORD kProtecting[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
  for (DWORD protecting : kProtecting) {
    SCOPED_TRACE(protecting);
    std::string target = Make("t\\t.txt", "old and longer");
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), protecting));
    EXPECT_TRUE(disk.CopyOneFile(source, target)) << disk.GetErrorText();
    EXPECT_EQ("new", ReadWholeFile(target));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(target.c_str()));
    EXPECT_EQ(std::vector<std::string>{"t.txt"}, FilesIn(Path("t")));
  }
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(question.asked.empty());
}

// ---------------------------------------------------------------- in use

TEST_F(DiskTest, TargetInUseIsReplacedAtTheNextRestart) {
  bool hadPending;
  std::string pending = ReadPendingRenames(hadPending);
  std::string source = Make("s.txt", "new");
  std::string target = Make("t\\t.txt", "old");
  disk.SetOverwriteMode(OverwriteYesToAll);
  bool copied;
  {
    CHandle held = HoldOpen(target);
    ASSERT_TRUE(held.Valid());
    copied = disk.CopyOneFile(source, target);
  }
  bool nowPending;
  std::string renames = ReadPendingRenames(nowPending);
  RestorePendingRenames(hadPending, pending);

  EXPECT_TRUE(copied) << disk.GetErrorText();
  EXPECT_EQ("old", ReadWholeFile(target));
  std::vector<std::string> files = FilesIn(Path("t"));
  ASSERT_EQ(2u, files.size());
  std::string temporary = files[0] == "t.txt" ? files[1] : files[0];
  EXPECT_EQ(0u, temporary.find("FIU"));
  EXPECT_EQ("new", ReadWholeFile(Path("t\\") + temporary));
  EXPECT_TRUE(RebootNeeded());
  EXPECT_NE(std::string::npos, renames.find(temporary));
  // One request renames the copy over the target ("!" replaces); no request
  // deletes the target alone, which could outlive a failed rename.
  std::string nul(1, '\0');
  size_t request = renames.find(temporary + nul + "!\\??\\" + target + nul);
  EXPECT_NE(std::string::npos, request);
  EXPECT_EQ(renames.find(target), renames.rfind(target));
}

// A source another program holds is asked about like any unreadable file;
// ignoring it fails the copy (so the caller can report it) without
// touching the target, and a folder copy goes on with its other files.
TEST_F(DiskTest, SourceInUseIsAskedAboutAndReportedAsNotCopied) {
  std::string source = Make("s.txt", "new");
  std::string target = Make("t.txt", "old");
  disk.SetOverwriteMode(OverwriteYesToAll);
  CHandle held = HoldOpen(source);
  ASSERT_TRUE(held.Valid());
  boxes.QueueBoxAnswer(IDIGNORE);
  EXPECT_FALSE(disk.CopyOneFile(source, target));
  EXPECT_EQ("old", ReadWholeFile(target));
  EXPECT_NE(std::string::npos, disk.GetErrorText().find("Couldn't open file for reading: " + source + "."));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("File open error", boxes.boxes[0].caption);
  EXPECT_FALSE(disk.Cancelled());

  Make("folder\\a.txt", "a");
  Make("folder\\c.txt", "c");
  std::string locked = Make("folder\\b.txt", "b");
  CHandle lock = HoldOpen(locked);
  boxes.QueueBoxAnswer(IDIGNORE);
  EXPECT_TRUE(disk.CopyFolder(Path("folder"), Path("copy")));
  EXPECT_EQ("a", ReadWholeFile(Path("copy\\a.txt")));
  EXPECT_EQ("c", ReadWholeFile(Path("copy\\c.txt")));
  EXPECT_FALSE(::FileExists(Path("copy\\b.txt")));
  ASSERT_EQ(1u, disk.FailedFiles().size());
  EXPECT_EQ(locked, disk.FailedFiles()[0].path);
  EXPECT_NE(std::string::npos, disk.FailedFiles()[0].error.find("Couldn't open file for reading"));

  // Abort ends the folder copy.
  disk.ClearFailedFiles();
  boxes.QueueBoxAnswer(IDABORT);
  EXPECT_FALSE(disk.CopyFolder(Path("folder"), Path("copy2")));
  EXPECT_TRUE(disk.Cancelled());
}

// A folder of more files than one batch of the file threads: new targets
// are copied whole with their attributes, an existing one still gets its
// question and a locked source its error, each in the list's order.
TEST_F(DiskTest, LargeFolderCopiesAskWhereTheSmallOnesDo) {
  const int kFiles = 70, kExisting = 3, kReadOnly = 10, kLocked = 50;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02d.txt", i);
    names.push_back(name);
    Make(std::string("many\\") + name, std::string(1000 + i, static_cast<char>('a' + i % 26)));
  }
  SetFileAttributesA(Path("many\\" + names[kReadOnly]).c_str(), FILE_ATTRIBUTE_READONLY);
  Make("copy\\" + names[kExisting], "old");
  CHandle lock = HoldOpen(Path("many\\" + names[kLocked]));
  question.answers = {OverwriteNo};
  boxes.QueueBoxAnswer(IDIGNORE);
  EXPECT_TRUE(disk.CopyFolder(Path("many"), Path("copy")));
  ASSERT_EQ(1u, question.asked.size());
  EXPECT_EQ(Path("copy\\" + names[kExisting]), question.asked[0]);
  ASSERT_EQ(1u, disk.FailedFiles().size());
  EXPECT_EQ(Path("many\\" + names[kLocked]), disk.FailedFiles()[0].path);
  for (int i = 0; i < kFiles; ++i) {
    std::string target = Path("copy\\" + names[i]);
    if (i == kExisting) {
      EXPECT_EQ("old", ReadWholeFile(target));
    } else if (i == kLocked) {
      EXPECT_FALSE(::FileExists(target));
    } else {
      EXPECT_TRUE(ReadWholeFile(target) == std::string(1000 + i, static_cast<char>('a' + i % 26)))
          << target;
    }
  }
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY),
            GetFileAttributesA(Path("copy\\" + names[kReadOnly]).c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(Path("many\\" + names[kReadOnly]).c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(Path("copy\\" + names[kReadOnly]).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file that goes away between the listing and its copy (a temporary
// file, say) is simply not there: the folder's other files are still copied.
TEST_F(DiskTest, FileGoneSinceTheListingDoesNotEndTheFolderCopy) {
  Make("gone\\a.txt", "a");
  Make("gone\\c.txt", "c");
  struct CDeleter : CTestRun {
    std::string victim;
    void SetCurrentPath(const std::string& path) override {
      if (path == "b.txt") DeleteFileA(victim.c_str());
    }
  } deleter;
  deleter.victim = Make("gone\\b.txt", "b");
  disk.SetRunCallback(&deleter);
  EXPECT_TRUE(disk.CopyFolder(Path("gone"), Path("copy")));
  disk.SetRunCallback(&question);
  EXPECT_EQ("a", ReadWholeFile(Path("copy\\a.txt")));
  EXPECT_EQ("c", ReadWholeFile(Path("copy\\c.txt")));
  EXPECT_FALSE(::FileExists(Path("copy\\b.txt")));
  EXPECT_TRUE(disk.FailedFiles().empty());
}

// An existing target is replaced only by a complete copy, made beside it
// and swapped in: nothing of a longer old file stays behind, and no
// temporary file is left over.
TEST_F(DiskTest, ExistingTargetIsReplacedWholeByACompleteCopy) {
  std::string source = Make("big.bin", std::string(300000, 'n'));
  std::string target = Make("out\\big.bin", std::string(400000, 'o'));
  disk.SetOverwriteMode(OverwriteYesToAll);
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(disk.CopyOneFile(source, target));
  EXPECT_EQ(std::string(300000, 'n'), ReadWholeFile(target));
  EXPECT_TRUE(disk.CopyOneFile(Make("short.bin", "abc"), target));
  EXPECT_EQ("abc", ReadWholeFile(target));
  EXPECT_EQ(std::vector<std::string>{"big.bin"}, FilesIn(Path("out\\")));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(DiskTest, MissingSourceFailsWithoutText) {
  EXPECT_FALSE(disk.CopyFileAs(Path("none.txt"), Path("t.txt")));
  EXPECT_EQ("", disk.GetErrorText());
  EXPECT_FALSE(::FileExists(Path("t.txt")));
}

// ---------------------------------------------------------------- open errors

// A folder where the target file should be can't be opened for writing:
// not one of the silent cases, so the user is asked. Ignore goes on without
// the file, which is then no copy made.
TEST_F(DiskTest, OpenErrorAsksAbortRetryIgnore) {
  std::string source = Make("s.txt", "new");
  disk.SetOverwriteMode(OverwriteYesToAll);
  ASSERT_TRUE(disk.CreateFolderTree(Path("blocked")));

  boxes.QueueBoxAnswer(IDIGNORE);
  EXPECT_FALSE(disk.CopyOneFile(source, Path("blocked")));
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("File open error", boxes.boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_ABORTRETRYIGNORE | MB_ICONERROR), boxes.boxes[0].style);
  EXPECT_NE(std::string::npos,
            boxes.boxes[0].text.find("Couldn't open file for writing: " + Path("blocked") + "."));
  EXPECT_FALSE(disk.Cancelled());

  boxes.QueueBoxAnswer(IDABORT);
  EXPECT_FALSE(disk.CopyOneFile(source, Path("blocked")));
  EXPECT_TRUE(disk.Cancelled());
  EXPECT_FALSE(disk.CopyOneFile(source, Path("free.txt")));  // stays cancelled
  EXPECT_FALSE(::FileExists(Path("free.txt")));
}

TEST_F(DiskTest, RetryOpensAgainAfterTheCauseIsGone) {
  std::string source = Make("s.txt", "new");
  disk.SetOverwriteMode(OverwriteYesToAll);
  ASSERT_TRUE(disk.CreateFolderTree(Path("blocked")));
  CActingInteraction acting;
  std::string blocked = Path("blocked");
  acting.action = [blocked] { RemoveDirectoryA(blocked.c_str()); };
  acting.QueueBoxAnswer(IDRETRY);
  EXPECT_TRUE(disk.CopyOneFile(source, blocked));
  EXPECT_EQ(1u, acting.boxes.size());
  EXPECT_EQ("new", ReadWholeFile(blocked));
}

TEST_F(DiskTest, DesktopIniIsSkippedSilently) {
  std::string source = Make("s.txt", "new");
  disk.SetOverwriteMode(OverwriteYesToAll);
  ASSERT_TRUE(disk.CreateFolderTree(Path("DeskTop.INI")));
  EXPECT_TRUE(disk.CopyOneFile(source, Path("DeskTop.INI")));
  EXPECT_TRUE(boxes.boxes.empty());
}

// ---------------------------------------------------------------- trees

// A set saved inside the folder it backs up must not be copied into itself.
TEST_F(DiskTest, CopyFolderTreeLeavesOutTheExcludedFolderWhole) {
  Make("data\\top.txt", "1");
  Make("data\\old\\skip.txt", "2");
  Make("data\\old\\keep\\deep.txt", "3");
  Make("data\\sub\\s.txt", "4");
  EXPECT_TRUE(disk.CopyFolderTree(Path("data"), Path("backup/data"), Path("DATA\\old\\")));
  EXPECT_EQ("1", ReadWholeFile(Path("backup\\data\\top.txt")));
  EXPECT_FALSE(::FileExists(Path("backup\\data\\old\\skip.txt")));
  EXPECT_FALSE(::FileExists(Path("backup\\data\\old\\keep\\deep.txt")));
  EXPECT_EQ("4", ReadWholeFile(Path("backup\\data\\sub\\s.txt")));
}

TEST_F(DiskTest, ListSubfoldersPutsParentsFirst) {
  ASSERT_TRUE(disk.CreateFolderTree(Path("r\\a\\b\\c")));
  std::vector<std::string> list;
  ASSERT_TRUE(disk.ListSubfolders(Path("r"), list));
  std::vector<std::string> expected = {Path("r\\a\\"), Path("r\\a\\b\\"), Path("r\\a\\b\\c\\")};
  EXPECT_EQ(expected, list);
}

TEST_F(DiskTest, RemoveFolderTreeStopsAtAReadOnlyFile) {
  Make("r\\a\\f.txt", "x");
  std::string locked = Make("r\\a\\b\\locked.txt", "x");
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(disk.RemoveFolderTree(Path("r")));
  EXPECT_NE(std::string::npos, disk.GetErrorText().find(locked));
  EXPECT_TRUE(::FileExists(Path("r\\a\\f.txt")));

  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(disk.RemoveFolderTree(Path("r")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path("r").c_str()));
}

TEST_F(DiskTest, FolderSizeSkipsDotFoldersAndCountsSubfoldersWhenAsked) {
  Make("f\\a", "12345");
  Make("f\\sub\\b", "123");
  Make("f\\.hidden\\c", "1234567");
  EXPECT_EQ(5u, disk.FolderSize(Path("f"), false));
  EXPECT_EQ(8u, disk.FolderSize(Path("f"), true));
  EXPECT_EQ(3u, disk.FileSize(Path("f\\sub\\b")));
  EXPECT_EQ(0u, disk.FileSize(Path("f\\none")));
}

TEST_F(DiskTest, FileSizeIsNotCutAtFourGigabytes) {
  const std::uint64_t size = 0x140000000ull;  // 5 GB, left unwritten
  {
    CHandle file(CreateFileA(Path("big").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
    ASSERT_TRUE(file.Valid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file.Get(), end, NULL, FILE_BEGIN) || !SetEndOfFile(file.Get()))
      GTEST_SKIP() << "no room for a 5 GB file here";
  }
  EXPECT_EQ(size, disk.FileSize(Path("big")));
  EXPECT_EQ(size, disk.FolderSize(temp.Path(), false));
}

TEST(DiskSizes, HalvesCombineBeyondFourGigabytes) {
  EXPECT_EQ(0x100000005ull, CombineSize(1, 5));
  EXPECT_EQ(3221225472ull, CombineSize(0, 0xC0000000));
  EXPECT_EQ(0xFFFFFFFFFFFFFFFFull, CombineSize(0xFFFFFFFF, 0xFFFFFFFF));
}

// ---------------------------------------------------------------- errors

TEST_F(DiskTest, EmptyPathsAreRefusedWithTheInternalError) {
  Make("keep.txt", "x");
  std::string old = CurrentFolder();
  ASSERT_TRUE(SetCurrentDirectoryA(temp.Path().c_str()));
  bool results[] = {disk.FileExists(""),         disk.CreateFolderTree(""),
                    disk.CreateEmptyFile(""),    disk.CopyFileAs("", Path("t")),
                    disk.RemoveFile(""),         disk.RemoveFolderFiles(""),
                    disk.RemoveFolder(""),       disk.RemoveFolderTree(""),
                    disk.CopyFolderTree("", Path("t"), "")};
  SetCurrentDirectoryA(old.c_str());
  for (bool result : results) EXPECT_FALSE(result);
  EXPECT_EQ("CDiskObject internal error", disk.GetErrorText());
  EXPECT_TRUE(::FileExists(Path("keep.txt")));
}

TEST_F(DiskTest, FailuresCarryTheSystemTextAndThePath) {
  EXPECT_FALSE(disk.RemoveFile(Path("none.txt")));
  std::string text = disk.GetErrorText();
  EXPECT_GT(text.size(), Path("none.txt").size() + 1);
  EXPECT_EQ(" " + Path("none.txt"), text.substr(text.size() - Path("none.txt").size() - 1));

  std::vector<std::string> list;
  EXPECT_TRUE(disk.ListFiles("*.nothing", temp.Path(), list));  // no match is not a failure
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(disk.ListAllFiles(Path("missing"), list));
  EXPECT_NE(std::string::npos, disk.GetErrorText().find(Path("missing\\*.*")));
}

// Every step of the path is reported once, in order, whether the folders
// were there, partly there or not; a step that is a file fails the tree
// and is named.
TEST_F(DiskTest, CreateFolderTreeMakesTheMissingStepsAndNamesTheOneThatFails) {
  struct CPaths : CTestRun {
    std::vector<std::string> shown;
    void SetCurrentPath(const std::string& path) override { shown.push_back(path); }
  } paths;
  disk.SetRunCallback(&paths);
  std::string top = temp.Path().substr(0, temp.Path().size() - 1);
  std::vector<std::string> steps;
  for (size_t slash = top.find('\\'); slash != std::string::npos; slash = top.find('\\', slash + 1))
    steps.push_back(top.substr(0, slash));
  steps.erase(steps.begin());  // the drive is the root, no step
  steps.push_back(top);
  for (const char* step : {"\\a", "\\a\\b", "\\a\\b\\c"}) steps.push_back(top + step);

  for (int pass = 0; pass < 2; ++pass) {  // made, then found
    paths.shown.clear();
    EXPECT_TRUE(disk.CreateFolderTree(Path("a\\b\\c")));
    EXPECT_EQ(steps, paths.shown);
  }
  EXPECT_TRUE(IsFolder(Path("a\\b\\c")));
  ASSERT_TRUE(RemoveDirectoryA(Path("a\\b\\c").c_str()) && RemoveDirectoryA(Path("a\\b").c_str()));
  paths.shown.clear();
  EXPECT_TRUE(disk.CreateFolderTree(Path("a\\b\\c\\")));
  EXPECT_EQ(steps, paths.shown);
  EXPECT_TRUE(IsFolder(Path("a\\b\\c")));

  Make("a\\file.txt", "x");
  for (const char* through : {"a\\file.txt\\d\\e", "a\\file.txt"}) {
    SCOPED_TRACE(through);
    EXPECT_FALSE(disk.CreateFolderTree(Path(through)));
    std::string text = disk.GetErrorText();
    std::string named = " " + Path("a\\file.txt");
    ASSERT_GT(text.size(), named.size());
    EXPECT_EQ(named, text.substr(text.size() - named.size()));
  }
  EXPECT_FALSE(IsFolder(Path("a\\file.txt\\d")));
  disk.SetRunCallback(&question);
}

TEST_F(DiskTest, CreateEmptyFileMakesTheTreeAndEmptiesAnExistingFile) {
  std::string file = Make("e\\f.txt", "data");
  EXPECT_TRUE(disk.CreateEmptyFile(file));
  EXPECT_EQ("", ReadWholeFile(file));
  EXPECT_TRUE(disk.CreateEmptyFile(Path("n\\m\\g.txt")));
  EXPECT_TRUE(disk.FileExists(Path("n\\m\\g.txt")));
  EXPECT_FALSE(disk.FileExists(Path("n\\m")));  // a folder is no file
}

}  // namespace

// The 95 family replaces a file in steps; whatever step fails, one whole
// file stays at the target and nothing is left beside it.
TEST(ReplacingAFile, InStepsLeavesOneWholeFile) {
  CTemporaryFolder temp;
  std::string target = temp.Path() + "restore.zip";
  std::string source = temp.Path() + "new.tmp";
  auto namesThere = [&] {
    std::vector<std::string> names;
    CFind find(temp.Path() + "*");
    do {
      if (!find.IsFolder()) names.push_back(find.Name());
    } while (find.Next());
    std::sort(names.begin(), names.end());
    return names;
  };
  WriteWholeFile(target, "old");
  WriteWholeFile(source, "new");
  ASSERT_TRUE(MoveFileOverInSteps(source, target));
  EXPECT_EQ("new", ReadWholeFile(target));
  EXPECT_EQ(std::vector<std::string>{"restore.zip"}, namesThere());

  // The new file vanished: the old one is back in place.
  EXPECT_FALSE(MoveFileOverInSteps(source, target));
  EXPECT_EQ("new", ReadWholeFile(target));
  EXPECT_EQ(std::vector<std::string>{"restore.zip"}, namesThere());

  // The old file is held open by another program: both stay as they were.
  WriteWholeFile(source, "newer");
  HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(MoveFileOverInSteps(source, target));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  CloseHandle(held);
  EXPECT_EQ("new", ReadWholeFile(target));
  EXPECT_EQ("newer", ReadWholeFile(source));
}
