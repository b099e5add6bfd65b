#include "storage/Archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "base/Flags.h"
#include "support/TestRun.h"
#include "support/TestSupport.h"

namespace {

// A temporary folder and scripted message boxes for every test.
class ArchiveTestBase : public ::testing::Test {
 protected:
  CTemporaryFolder temp;
  CScriptedInteraction interaction;
};

struct PasswordScript : CTestRun {
  std::string password;
  bool give = true;
  std::vector<std::string> asked;
  bool GetArchivePassword(const std::string& entry, std::string& answer) override {
    asked.push_back(entry);
    if (!give) return false;
    answer = password;
    return true;
  }
};

struct OverwriteScript : CTestRun {
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

std::vector<std::string> EntryNames(const std::string& archive) {
  std::vector<std::string> names;
  CZipReader zip;
  if (!zip.Open(archive) || !zip.GoToFirstEntry()) return names;
  do names.push_back(zip.GetCurrentEntry()->name);
  while (zip.GoToNextEntry());
  std::sort(names.begin(), names.end());
  return names;
}

// An archive with the given entries, written without our writer's checks.
void WriteRawArchive(const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& entries,
                     const char* password = nullptr) {
  CZipWriter zip;
  ASSERT_TRUE(zip.Create(path));
  for (const auto& item : entries) {
    ZipNewEntry entry;
    entry.name = item.first;
    if (password) {
      entry.password = std::string(password);
      entry.crc = static_cast<std::uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(item.second.data()),
                static_cast<uInt>(item.second.size())));
    }
    ASSERT_TRUE(zip.OpenEntry(entry));
    ASSERT_TRUE(zip.WriteEntry(item.second.data(), item.second.size()));
    ASSERT_TRUE(zip.CloseEntry());
  }
  ASSERT_TRUE(zip.Close());
}

// A small tree: three levels, a dot-file, a nested backup set and a big file.
std::string MakeTree(const std::string& root) {
  CreateDirectoryA(root.c_str(), NULL);
  CreateDirectoryA((root + "Doc").c_str(), NULL);
  CreateDirectoryA((root + "Doc\\Deep").c_str(), NULL);
  CreateDirectoryA((root + "Doc\\Deep\\Deeper").c_str(), NULL);
  CreateDirectoryA((root + "OldSet").c_str(), NULL);
  CreateDirectoryA((root + "Skip").c_str(), NULL);
  WriteWholeFile(root + "top.txt", "top");
  WriteWholeFile(root + ".profile", "hidden");
  CreateDirectoryA((root + ".purple").c_str(), NULL);
  WriteWholeFile(root + ".purple\\prefs.xml", "<pref/>");
  WriteWholeFile(root + "Doc\\a.txt", "alpha");
  WriteWholeFile(root + "Doc\\Deep\\b.bin", std::string(200000, '\x5a') + "tail");
  WriteWholeFile(root + "Doc\\Deep\\Deeper\\c.txt", "");
  WriteWholeFile(root + "OldSet\\restore.xml", "<x/>");
  WriteWholeFile(root + "Skip\\s.txt", "skip");
  return root;
}

// ---------------------------------------------------------------- packing

using ArchivePackNames = ArchiveTestBase;

TEST_F(ArchivePackNames, NamesAreRelativeToTheBaseFolder) {
  std::string set = temp.Path() + "set\\";
  CreateDirectoryA(set.c_str(), NULL);
  WriteWholeFile(set + "restore.xml", "<r/>");
  WriteWholeFile(temp.Path() + "outside.txt", "o");
  WriteWholeFile(temp.Path() + "f.txt", "f");

  ArchiveWriter writer(set + "restore.zip", "", false, std::nullopt, 6, NULL);
  ASSERT_TRUE(writer.IsOpen());
  EXPECT_EQ(set, writer.BaseFolder());
  EXPECT_TRUE(writer.AddFile(set + "restore.xml", true));
  EXPECT_FALSE(writer.AddFile(temp.Path() + "outside.txt", false));
  EXPECT_FALSE(writer.AddFile("..\\outside.txt", false));
  EXPECT_TRUE(writer.AddFileAs(temp.Path() + "f.txt", "Doc\\Files"));
  EXPECT_TRUE(writer.AddFileAs(temp.Path() + "f.txt", "\\Doc"));
  EXPECT_TRUE(writer.AddFileAs(temp.Path() + "f.txt", "", "renamed.txt"));
  EXPECT_FALSE(writer.AddFileAs(temp.Path() + "f.txt", "C:\\Doc"));
  EXPECT_FALSE(writer.AddFileAs(temp.Path() + "missing.txt", "Doc"));
  EXPECT_TRUE(interaction.boxes.empty());  // a missing source is skipped silently
  ASSERT_TRUE(writer.Close());

  EXPECT_EQ((std::vector<std::string>{"Doc\\Files\\f.txt", "Doc\\f.txt", "renamed.txt",
                                      "restore.xml"}),
            EntryNames(set + "restore.zip"));
}

TEST_F(ArchivePackNames, AppendKeepsEarlierEntries) {
  WriteWholeFile(temp.Path() + "one.txt", "1");
  WriteWholeFile(temp.Path() + "two.txt", "2");
  std::string archive = temp.Path() + "restore.zip";
  {
    ArchiveWriter writer(archive, "", true, std::nullopt, -1, NULL);
    ASSERT_TRUE(writer.AddFile("one.txt", false));
  }  // closed by the destructor
  ArchiveWriter writer(archive, "", true, std::nullopt, -1, NULL);
  ASSERT_TRUE(writer.AddFile(temp.Path() + "two.txt", false));
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ((std::vector<std::string>{"one.txt", "two.txt"}), EntryNames(archive));
}

// Dot-files and dot-folders are user data like any other ("." and ".."
// aside); other sets and the excluded folder stay out.
TEST_F(ArchivePackNames, FolderWalkKeepsDotNamesAndLeavesOutSetsAndTheExcludedFolder) {
  std::string root = MakeTree(temp.Path() + "src\\");
  std::string archive = temp.Path() + "restore.zip";
  ArchiveWriter writer(archive, "", false, std::nullopt, 9, NULL);
  ASSERT_TRUE(writer.AddFolder(root, "Entry", true, root + "Skip\\"));
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ((std::vector<std::string>{"Entry\\.profile", "Entry\\.purple\\prefs.xml",
                                      "Entry\\Doc\\Deep\\Deeper\\c.txt", "Entry\\Doc\\Deep\\b.bin",
                                      "Entry\\Doc\\a.txt", "Entry\\top.txt"}),
            EntryNames(archive));
  EXPECT_TRUE(writer.FailedFiles().empty());
}

// ---------------------------------------------------------------- round trip

class ArchiveRoundTrip : public ArchiveTestBase, public ::testing::WithParamInterface<bool> {};

TEST_P(ArchiveRoundTrip, TreeComesBackElsewhereWithContentsAndTimes) {
  bool withPassword = GetParam();
  std::string root = MakeTree(temp.Path() + "src\\");
  std::string archive = temp.Path() + "restore.zip";
  std::optional<std::string> password;
  if (withPassword) password = "s3cret";
  const DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  SetFileAttributesA((root + "top.txt").c_str(), kProtected);
  {
    ArchiveWriter writer(archive, "", false, password, -1, NULL);
    ASSERT_TRUE(writer.AddFolder(root, "Entry", true));
  }

  ArchiveReader reader(archive, false, NULL);
  PasswordScript script;
  script.password = "s3cret";
  reader.SetRunCallback(&script);
  std::string target = temp.Path() + "out\\";
  ASSERT_TRUE(reader.UnpackFolder("Entry\\", target)) << reader.GetErrorText();

  for (const char* name : {"top.txt", ".profile", ".purple\\prefs.xml", "Skip\\s.txt", "Doc\\a.txt",
                           "Doc\\Deep\\b.bin", "Doc\\Deep\\Deeper\\c.txt"})
    EXPECT_EQ(ReadWholeFile(root + name), ReadWholeFile(target + name)) << name;
  EXPECT_EQ(withPassword ? 7u : 0u, script.asked.size());  // once per file
  // The attributes stored with a file come back with it.
  EXPECT_EQ(kProtected, GetFileAttributesA((target + "top.txt").c_str()) & kProtected);
  EXPECT_EQ(0u, GetFileAttributesA((target + "Doc\\a.txt").c_str()) & kProtected);

  WIN32_FILE_ATTRIBUTE_DATA source, copy;
  ASSERT_TRUE(GetFileAttributesExA((root + "Doc\\a.txt").c_str(), GetFileExInfoStandard, &source));
  ASSERT_TRUE(GetFileAttributesExA((target + "Doc\\a.txt").c_str(), GetFileExInfoStandard, &copy));
  auto ticks = [](const FILETIME& t) { return CombineSize(t.dwHighDateTime, t.dwLowDateTime); };
  // DOS times have a two-second grain.
  EXPECT_LE(ticks(source.ftLastWriteTime) - std::min(ticks(source.ftLastWriteTime),
                                                     ticks(copy.ftLastWriteTime)),
            20000000u);
  EXPECT_EQ(ticks(copy.ftLastWriteTime), ticks(copy.ftCreationTime));
}

INSTANTIATE_TEST_SUITE_P(ArchivePlainAndEncrypted, ArchiveRoundTrip, ::testing::Bool());

using ArchiveForeignNames = ArchiveTestBase;

TEST_F(ArchiveForeignNames, SlashNamesAreFoundAndUnpackedToExactPaths) {
  std::string archive = temp.Path() + "other.zip";
  WriteRawArchive(archive, {{"Doc/Files/f.txt", "from another tool"}, {"Doc/Empty/", ""}});
  ArchiveReader reader(archive, false, NULL);
  EXPECT_FALSE(reader.HasFile("Doc\\Files\\f.txt", false));
  ASSERT_TRUE(reader.HasFile("doc\\files\\F.TXT", true));
  ASSERT_TRUE(reader.UnpackFile("Doc\\Files\\f.txt", temp.Path() + "x\\y\\renamed.txt"));
  EXPECT_EQ("from another tool", ReadWholeFile(temp.Path() + "x\\y\\renamed.txt"));
  ASSERT_TRUE(reader.UnpackFolder("Doc\\", temp.Path() + "tree\\"));
  EXPECT_EQ("from another tool", ReadWholeFile(temp.Path() + "tree\\Files\\f.txt"));
  DWORD attributes = GetFileAttributesA((temp.Path() + "tree\\Empty").c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

// ---------------------------------------------------------------- passwords

using ArchivePassword = ArchiveTestBase;

TEST_F(ArchivePassword, WrongOrMissingPasswordKeepsTheExistingFile) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"a.txt", "new contents"}, {"b.txt", "other"}}, "right");
  std::string target = temp.Path() + "out\\";
  CreateDirectoryA(target.c_str(), NULL);
  WriteWholeFile(target + "a.txt", "precious");

  ArchiveReader reader(archive, true, NULL);
  PasswordScript wrong;
  wrong.password = "wrong";
  reader.SetRunCallback(&wrong);
  EXPECT_FALSE(reader.UnpackFile("a.txt", target + "a.txt"));
  EXPECT_FALSE(reader.GetErrorText().empty());
  EXPECT_FALSE(reader.UnpackFile("b.txt", target + "b.txt"));

  PasswordScript none;
  none.give = false;
  reader.SetRunCallback(&none);
  EXPECT_FALSE(reader.UnpackFile("a.txt", target + "a.txt"));
  EXPECT_EQ(1u, none.asked.size());

  EXPECT_EQ("precious", ReadWholeFile(target + "a.txt"));
  EXPECT_FALSE(FileExists(target + "b.txt"));
  std::vector<std::string> left;
  CDiskObject disk(false, NULL);
  disk.ListAllFiles(target, left);
  EXPECT_EQ(std::vector<std::string>{"a.txt"}, left);  // no temporary files left behind
}

// ---------------------------------------------------------------- hostile archives

using ArchiveHostile = ArchiveTestBase;

TEST_F(ArchiveHostile, NamesLeavingTheTargetAreRefused) {
  const char* names[] = {"..\\escape.txt", "a/../../escape.txt", "\\escape.txt", "/escape.txt",
                         "C:\\escape.txt", "C:escape.txt", "CON", "sub\\nul.txt", "com1.log",
                         "LPT9", "...\\escape.txt", "sub\\..\\..\\escape.txt"};
  std::string target = temp.Path() + "deep\\out\\";
  for (const char* name : names) {
    std::string archive = temp.Path() + "hostile.zip";
    WriteRawArchive(archive, {{name, "bad"}});
    ArchiveReader reader(archive, true, NULL);
    ASSERT_TRUE(reader.IsOpen());
    ASSERT_TRUE(reader.HasFile(name, true));
    EXPECT_FALSE(reader.UnpackCurrent(target, false)) << name;
    EXPECT_NE(std::string::npos, reader.GetErrorText().find(name)) << reader.GetErrorText();
    EXPECT_FALSE(reader.UnpackFolder("", target)) << name;
  }
  EXPECT_FALSE(FileExists(temp.Path() + "escape.txt"));
  EXPECT_FALSE(FileExists(temp.Path() + "deep\\escape.txt"));
  EXPECT_FALSE(FileExists("C:\\escape.txt"));
  EXPECT_TRUE(IsSafeEntryName("Doc\\con.d\\x.txt") == false);
  EXPECT_TRUE(IsSafeEntryName("Doc\\console.txt"));
  EXPECT_TRUE(IsSafeEntryName("Registry\\Office.Word.xml"));
}

TEST_F(ArchiveHostile, WriterRefusesNamesItsReaderWouldRefuse) {
  WriteWholeFile(temp.Path() + "f.txt", "f");
  ArchiveWriter writer(temp.Path() + "restore.zip", "", false, std::nullopt, -1, NULL);
  EXPECT_FALSE(writer.AddFileAs(temp.Path() + "f.txt", "a\\..\\..", "x.txt"));
  EXPECT_FALSE(writer.GetErrorText().empty());
}

TEST_F(ArchiveHostile, DamagedArchivesFailAndKeepTheTarget) {
  std::string good = temp.Path() + "good.zip";
  std::string data;
  for (int i = 0; i < 5000; ++i) data += std::to_string(i * 7919) + ",";
  WriteRawArchive(good, {{"a.txt", data}});
  std::string bytes = ReadWholeFile(good);
  std::string target = temp.Path() + "a.txt";

  // Truncated: the directory is gone.
  WriteWholeFile(temp.Path() + "cut.zip", bytes.substr(0, bytes.size() / 2));
  ArchiveReader cut(temp.Path() + "cut.zip", true, NULL);
  EXPECT_FALSE(cut.IsOpen());
  EXPECT_FALSE(cut.UnpackFile("a.txt", target));

  // Corrupted entry data: the directory is intact, the CRC is not. A
  // target that didn't exist before isn't left behind half written.
  std::string fresh = temp.Path() + "fresh\\";
  for (size_t offset : {size_t(60), bytes.size() / 3}) {
    std::string damaged = bytes;
    damaged[offset] = static_cast<char>(damaged[offset] ^ 0x55);
    WriteWholeFile(temp.Path() + "bad.zip", damaged);
    WriteWholeFile(target, "precious");
    ArchiveReader reader(temp.Path() + "bad.zip", true, NULL);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_FALSE(reader.UnpackFile("a.txt", target)) << offset;
    EXPECT_FALSE(reader.GetErrorText().empty());
    EXPECT_EQ("precious", ReadWholeFile(target));
    EXPECT_FALSE(reader.UnpackFolder("", fresh)) << offset;
    EXPECT_FALSE(reader.UnpackFile("a.txt", fresh + "b.txt")) << offset;
    std::vector<std::string> left;
    CDiskObject disk(false, NULL);
    disk.ListAllFiles(fresh, left);
    EXPECT_TRUE(left.empty()) << left.front();
  }
  WriteWholeFile(temp.Path() + "junk.zip", std::string(300, 'P'));
  ArchiveReader junk(temp.Path() + "junk.zip", true, NULL);
  EXPECT_FALSE(junk.IsOpen());
}

// ---------------------------------------------------------------- overwrite policy

using ArchiveOverwrite = ArchiveTestBase;

TEST_F(ArchiveOverwrite, AnswersDecideWhichFilesAreReplaced) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"E\\1.txt", "new1"}, {"E\\2.txt", "new2"}, {"E\\3.txt", "new3"},
                            {"E\\4.txt", "new4"}});
  std::string target = temp.Path() + "out\\";
  CreateDirectoryA(target.c_str(), NULL);
  for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
    WriteWholeFile(target + name, "old");

  ArchiveReader reader(archive, false, NULL);
  OverwriteScript script;
  script.answers = {OverwriteYes, OverwriteNo, OverwriteNoToAll};
  reader.SetRunCallback(&script);
  ASSERT_TRUE(reader.UnpackFolder("E\\", target));
  EXPECT_EQ("new1", ReadWholeFile(target + "1.txt"));
  EXPECT_EQ("old", ReadWholeFile(target + "2.txt"));
  EXPECT_EQ("old", ReadWholeFile(target + "3.txt"));
  EXPECT_EQ("old", ReadWholeFile(target + "4.txt"));  // no to all: not asked again
  EXPECT_EQ(3u, script.asked.size());
}

TEST_F(ArchiveOverwrite, CancelledQuestionStopsAndOverwriteAllReplacesReadOnly) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"f.txt", "new"}});
  std::string target = temp.Path() + "f.txt";
  WriteWholeFile(target, "old");

  ArchiveReader asking(archive, false, NULL);  // no question installed: cancel
  EXPECT_FALSE(asking.UnpackFile("f.txt", target));
  EXPECT_TRUE(asking.StopRequested());
  EXPECT_EQ("old", ReadWholeFile(target));

  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  ArchiveReader all(archive, true, NULL);
  ASSERT_TRUE(all.UnpackFile("f.txt", target)) << all.GetErrorText();
  EXPECT_EQ("new", ReadWholeFile(target));
}

// ---------------------------------------------------------------- targets

using ArchiveTargets = ArchiveTestBase;

TEST_F(ArchiveTargets, TargetInUseIsReplacedAtTheNextRestart) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"t.txt", "new"}});
  std::string folder = temp.Path() + "t\\";
  CreateDirectoryA(folder.c_str(), NULL);
  WriteWholeFile(folder + "t.txt", "old");

  bool hadPending;
  std::string pending = ReadPendingRenames(hadPending);
  bool unpacked;
  std::string error;
  {
    CHandle held(CreateFileA((folder + "t.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
    ASSERT_TRUE(held.Valid());
    ArchiveReader reader(archive, true, NULL);
    unpacked = reader.UnpackFile("t.txt", folder + "t.txt");
    error = reader.GetErrorText();
  }
  bool nowPending;
  std::string renames = ReadPendingRenames(nowPending);
  RestorePendingRenames(hadPending, pending);
  bool rebootNeeded = RebootNeeded();
  SetRebootNeeded(false);

  EXPECT_TRUE(unpacked) << error;
  EXPECT_EQ("old", ReadWholeFile(folder + "t.txt"));
  std::vector<std::string> files;
  CDiskObject disk(false, NULL);
  disk.ListAllFiles(folder, files);
  ASSERT_EQ(2u, files.size());
  std::string temporary = files[0] == "t.txt" ? files[1] : files[0];
  EXPECT_EQ(0u, temporary.find("FIU"));
  EXPECT_EQ("new", ReadWholeFile(folder + temporary));
  EXPECT_TRUE(rebootNeeded);
  EXPECT_NE(std::string::npos, renames.find(temporary));
}

TEST_F(ArchiveTargets, AFolderInTheWayFailsWithoutAQuestion) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"f.txt", "new"}});
  CreateDirectoryA((temp.Path() + "f.txt").c_str(), NULL);
  ArchiveReader reader(archive, false, NULL);
  OverwriteScript script;
  script.answers = {OverwriteYes};
  reader.SetRunCallback(&script);
  EXPECT_FALSE(reader.UnpackFile("f.txt", temp.Path() + "f.txt"));
  EXPECT_TRUE(script.asked.empty());
  EXPECT_NE(std::string::npos, reader.GetErrorText().find("f.txt")) << reader.GetErrorText();
  EXPECT_FALSE(reader.StopRequested());
}

// Gives the password, and before the second entry removes the folder the
// first one went to.
struct FolderRemover : CTestRun {
  std::string folder;
  int asked = 0;
  bool removed = false;
  bool GetArchivePassword(const std::string&, std::string& password) override {
    if (++asked == 2)
      removed = DeleteFileA((folder + "\\1.txt").c_str()) && RemoveDirectoryA(folder.c_str());
    password = "pw";
    return true;
  }
};

TEST_F(ArchiveTargets, AFolderRemovedDuringAnUnpackIsMadeAgain) {
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, {{"E\\Sub\\1.txt", "one"}, {"E\\Sub\\2.txt", "two"}}, "pw");
  std::string target = temp.Path() + "out\\";
  ArchiveReader reader(archive, false, NULL);
  FolderRemover remover;
  remover.folder = target + "Sub";
  reader.SetRunCallback(&remover);
  ASSERT_TRUE(reader.UnpackFolder("E\\", target)) << reader.GetErrorText();
  EXPECT_TRUE(remover.removed);
  EXPECT_EQ("two", ReadWholeFile(target + "Sub\\2.txt"));
}

// ---------------------------------------------------------------- stopping

using ArchiveCancel = ArchiveTestBase;

// The run's one stop request, shared by its writer and reader.
TEST_F(ArchiveCancel, StopRequestFailsAddsAndWritesNothing) {
  WriteWholeFile(temp.Path() + "f.txt", "f");
  std::string archive = temp.Path() + "restore.zip";
  CStopRequest stop;
  {
    ArchiveWriter writer(archive, "", false, std::nullopt, -1, NULL);
    writer.SetStopRequest(stop);
    stop.Request();
    EXPECT_FALSE(writer.AddFile("f.txt", false));
    EXPECT_FALSE(writer.AddFileAs(temp.Path() + "f.txt", "Doc"));
    stop.Clear();
    EXPECT_TRUE(writer.AddFileAs(temp.Path() + "f.txt", "Doc"));
  }
  EXPECT_EQ(std::vector<std::string>{"Doc\\f.txt"}, EntryNames(archive));

  ArchiveReader reader(archive, false, NULL);
  reader.SetStopRequest(stop);
  stop.Request();
  EXPECT_FALSE(reader.UnpackFile("Doc\\f.txt", temp.Path() + "out\\f.txt"));
  EXPECT_FALSE(FileExists(temp.Path() + "out\\f.txt"));
}

TEST_F(ArchiveCancel, AbortOnAnUnreadableSourceRequestsTheStop) {
  std::string locked = temp.Path() + "locked.txt";
  WriteWholeFile(locked, "l");
  CHandle hold(CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
  ASSERT_TRUE(hold.Valid());
  ArchiveWriter writer(temp.Path() + "restore.zip", "", false, std::nullopt, -1, NULL);
  interaction.QueueBoxAnswer(IDABORT);
  EXPECT_FALSE(writer.AddFile(locked, false));
  ASSERT_EQ(1u, interaction.boxes.size());
  EXPECT_EQ("File open error", interaction.boxes[0].caption);
  EXPECT_EQ(0u, interaction.boxes[0].text.find("Couldn't open file:"));
  EXPECT_TRUE(writer.StopRequested());
  EXPECT_FALSE(writer.GetErrorText().empty());
}

// ---------------------------------------------------------------- parallel packing

// Bytes that compress in places and not in others, different for each seed.
std::string MixedData(std::size_t size, unsigned seed) {
  std::string data(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = (i / 5000) % 3 == 0 ? static_cast<char>(state >> 24) : "settings of a program "[i % 22];
  }
  return data;
}

using ArchiveParallelPacking = ArchiveTestBase;

// Files of several pieces, sizes on and next to a piece's edge, empty ones
// and many small ones in between, as the threads finish them in any order.
TEST_F(ArchiveParallelPacking, FilesOfEverySizeComeBackWhole) {
  const std::size_t piece = CPackPipeline::kPieceSize;
  const std::size_t sizes[] = {0, 1, piece - 1, piece, piece + 1, 2 * piece, 3 * piece + 12345, 777};
  std::string source = temp.Path() + "src\\";
  ASSERT_TRUE(CreateDirectoryA(source.c_str(), NULL));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 40; ++i) {
    std::string name = "file" + std::to_string(i) + ".bin";
    WriteWholeFile(source + name, MixedData(sizes[i % std::size(sizes)] + (i >= 8 ? i : 0), i));
    names.push_back(name);
  }
  for (const char* password : {"", "pieces pw"}) {
    SCOPED_TRACE(password);
    std::string archive = temp.Path() + (*password ? "secret.zip" : "plain.zip");
    {
      ArchiveWriter writer(archive, "", false, std::string(password), 6, NULL);
      ASSERT_TRUE(writer.AddFolder(source, "Entry", false));
      EXPECT_TRUE(writer.FailedFiles().empty());
      ASSERT_TRUE(writer.Close()) << writer.GetErrorText();
      EXPECT_GT(writer.PeakPieceBytes(), 0u);
      EXPECT_LT(writer.PeakPieceBytes(), 64u << 20);
    }
    ArchiveReader reader(archive, true, NULL);
    PasswordScript script;
    script.password = password;
    reader.SetRunCallback(&script);
    std::string target = temp.Path() + "out-" + (*password ? "secret" : "plain") + "\\";
    ASSERT_TRUE(reader.UnpackFolder("Entry\\", target)) << reader.GetErrorText();
    for (const std::string& name : names)
      EXPECT_TRUE(ReadWholeFile(source + name) == ReadWholeFile(target + name)) << name;
  }
}

// A file given up after pieces of it went to the threads (its read failed,
// or the run stopped) is left out; the files before and after stay whole,
// and so does a file whose pieces were all in the ring at once.
TEST_F(ArchiveParallelPacking, AnEntryGivenUpHalfwayIsLeftOut) {
  const std::size_t piece = CPackPipeline::kPieceSize;
  std::string archive = temp.Path() + "restore.zip";
  const std::string big = MixedData(40 * piece, 9);
  {
    CZipWriter zip;
    ASSERT_TRUE(zip.Create(archive));
    CPackPipeline pipeline(zip);
    auto add = [&](const std::string& name, const std::string& data, std::size_t pieces) {
      ZipNewEntry entry;
      entry.name = name;
      entry.level = 6;
      ASSERT_TRUE(pipeline.BeginEntry(entry));
      for (std::size_t i = 0; i < pieces; ++i) {
        std::size_t at = i * piece, size = std::min(piece, data.size() - at);
        std::memcpy(pipeline.PieceBuffer(), data.data() + at, size);
        pipeline.SubmitPiece(size, size < piece);
      }
    };
    add("before.txt", "before", 1);
    add("given up.bin", big, 3);
    pipeline.AbandonEntry();
    add("big.bin", big, 41);
    add("after.txt", "after", 1);
    ASSERT_TRUE(pipeline.Flush()) << pipeline.ErrorText();
    ASSERT_TRUE(zip.Close());
  }
  EXPECT_EQ((std::vector<std::string>{"after.txt", "before.txt", "big.bin"}), EntryNames(archive));
  ArchiveReader reader(archive, true, NULL);
  ASSERT_TRUE(reader.UnpackFile("big.bin", temp.Path() + "out\\big.bin")) << reader.GetErrorText();
  EXPECT_TRUE(big == ReadWholeFile(temp.Path() + "out\\big.bin"));
}

// ---------------------------------------------------------------- size limit

using ArchiveParallelUnpacking = ArchiveTestBase;

// New files are made by several threads a batch at a time. An existing one
// among them still gets its question, and a damaged entry ends the unpack
// in the archive's order: what comes before it is whole, it leaves nothing
// behind, whatever else its batch made is whole too, and no later batch
// starts.
TEST_F(ArchiveParallelUnpacking, ExistingFilesAskAndADamagedEntryEndsTheWalk) {
  const int kFiles = 100, kDamaged = 40, kExisting = 5;
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < kFiles; ++i)
    entries.push_back({"E\\f" + std::to_string(i) + ".bin", MixedData(3000 + 17 * i, i)});
  std::string archive = temp.Path() + "restore.zip";
  WriteRawArchive(archive, entries);
  std::string bytes = ReadWholeFile(archive);
  size_t local = bytes.find(entries[kDamaged].first);
  ASSERT_NE(std::string::npos, local);
  bytes[local + entries[kDamaged].first.size() + 10] ^= 0x55;
  WriteWholeFile(archive, bytes);

  std::string target = temp.Path() + "out\\";
  ASSERT_TRUE(CreateDirectoryA(target.c_str(), NULL));
  WriteWholeFile(target + "f" + std::to_string(kExisting) + ".bin", "old");
  ArchiveReader reader(archive, false, NULL);
  OverwriteScript script;
  script.answers = {OverwriteNo};
  reader.SetRunCallback(&script);
  EXPECT_FALSE(reader.UnpackFolder("E\\", target));
  EXPECT_FALSE(reader.GetErrorText().empty());
  EXPECT_EQ(1u, script.asked.size());
  int made = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::string path = target + "f" + std::to_string(i) + ".bin";
    bool there = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    made += there ? 1 : 0;
    if (i == kExisting) {
      EXPECT_EQ("old", ReadWholeFile(path));
    } else if (i == kDamaged) {
      EXPECT_FALSE(there);
    } else if (i < kDamaged) {
      EXPECT_TRUE(there && ReadWholeFile(path) == entries[i].second) << path;
    } else if (there) {
      EXPECT_TRUE(ReadWholeFile(path) == entries[i].second) << path;
    }
  }
  EXPECT_LT(made, kFiles - 30);
}

TEST(ArchiveSizeLimit, ExactlyTwoGigabytesPassesOneMoreByteFails) {
  EXPECT_FALSE(ExceedsArchiveLimit(2147483648ULL));
  EXPECT_TRUE(ExceedsArchiveLimit(2147483649ULL));
  EXPECT_FALSE(ExceedsArchiveLimit(0));
  EXPECT_TRUE(ExceedsArchiveLimit(4294967296ULL + 1));

  CTemporaryFolder temp;
  WriteWholeFile(temp.Path() + "small.zip", "PK");
  EXPECT_FALSE(ArchiveFileTooLarge(temp.Path() + "small.zip"));
  EXPECT_FALSE(ArchiveFileTooLarge(temp.Path() + "missing.zip"));
}

}  // namespace
