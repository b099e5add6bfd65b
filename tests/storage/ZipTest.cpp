#include "storage/Zip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class ZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_dir = fs::temp_directory_path() / (std::string("qm-zip-") + info->test_suite_name() + "-" + info->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }

  fs::path m_dir;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Text that compresses a little, and bytes that don't.
std::string SampleData(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data;
  for (std::size_t i = 0; i < size; ++i)
    data += (i / 4096) % 2 ? static_cast<char>(random()) : "quill mark backup "[i % 18];
  return data;
}

ZipNewEntry NewEntry(const std::string& name, const std::string& data, int level = -1,
                     const char* password = nullptr) {
  ZipNewEntry entry;
  entry.name = name;
  entry.dosDate = 0x3A21;
  entry.dosTime = 0x6B5C;
  entry.externalAttributes = 0x20;
  entry.level = level;
  if (password) entry.password = std::string(password);
  entry.crc = Crc(data);
  return entry;
}

// Writes the data in uneven pieces, as a file read in blocks would come.
bool AddEntry(CZipWriter& writer, const ZipNewEntry& entry, const std::string& data) {
  if (!writer.OpenEntry(entry)) return false;
  std::size_t at = 0, piece = 1;
  while (at < data.size()) {
    std::size_t n = std::min(piece, data.size() - at);
    if (!writer.WriteEntry(data.data() + at, n)) return false;
    at += n;
    piece = piece * 3 + 7;
  }
  return writer.CloseEntry();
}

// The current entry read in small pieces; false when reading or the final
// check failed.
bool ReadCurrent(CZipReader& reader, std::string& data, const char* password = nullptr) {
  data.clear();
  if (!reader.OpenEntry(password)) return false;
  char buffer[777];
  long got;
  while ((got = reader.ReadEntry(buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(got));
  bool closed = reader.CloseEntry();
  return got == 0 && closed;
}

std::string RawDeflate(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// An entry as another tool might have written it, with every field under
// the test's control.
struct RawEntry {
  std::string name;
  std::string payload;  // exactly the bytes after the local header
  std::uint16_t method = 8;
  std::uint16_t flags = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint32_t externalAttributes = 0;
  bool descriptor = false;  // sizes only after the data, zeros in the local header
};

RawEntry Deflated(const std::string& name, const std::string& data) {
  RawEntry e;
  e.name = name;
  e.payload = RawDeflate(data);
  e.crc = Crc(data);
  e.compressedSize = static_cast<std::uint32_t>(e.payload.size());
  e.uncompressedSize = static_cast<std::uint32_t>(data.size());
  return e;
}

RawEntry Stored(const std::string& name, const std::string& data) {
  RawEntry e = Deflated(name, data);
  e.method = 0;
  e.payload = data;
  e.compressedSize = e.uncompressedSize;
  return e;
}

std::string BuildArchive(const std::vector<RawEntry>& entries) {
  std::string file, directory;
  for (const RawEntry& e : entries) {
    std::uint32_t offset = static_cast<std::uint32_t>(file.size());
    std::uint16_t flags = static_cast<std::uint16_t>(e.flags | (e.descriptor ? 8 : 0));
    Put32(file, 0x04034b50);
    Put16(file, 20);
    Put16(file, flags);
    Put16(file, e.method);
    Put32(file, 0x3A216B5C);
    Put32(file, e.descriptor ? 0 : e.crc);
    Put32(file, e.descriptor ? 0 : e.compressedSize);
    Put32(file, e.descriptor ? 0 : e.uncompressedSize);
    Put16(file, static_cast<std::uint32_t>(e.name.size()));
    Put16(file, 0);
    file += e.name + e.payload;
    if (e.descriptor) {
      Put32(file, 0x08074b50);
      Put32(file, e.crc);
      Put32(file, e.compressedSize);
      Put32(file, e.uncompressedSize);
    }
    Put32(directory, 0x02014b50);
    Put16(directory, 20);
    Put16(directory, 20);
    Put16(directory, flags);
    Put16(directory, e.method);
    Put32(directory, 0x3A216B5C);
    Put32(directory, e.crc);
    Put32(directory, e.compressedSize);
    Put32(directory, e.uncompressedSize);
    Put16(directory, static_cast<std::uint32_t>(e.name.size()));
    Put32(directory, 0);
    Put32(directory, 0);
    Put32(directory, e.externalAttributes);
    Put32(directory, offset);
    directory += e.name;
  }
  std::uint32_t directoryOffset = static_cast<std::uint32_t>(file.size());
  file += directory;
  Put32(file, 0x06054b50);
  Put32(file, 0);
  Put16(file, static_cast<std::uint32_t>(entries.size()));
  Put16(file, static_cast<std::uint32_t>(entries.size()));
  Put32(file, static_cast<std::uint32_t>(directory.size()));
  Put32(file, directoryOffset);
  Put16(file, 0);
  return file;
}

// ---------------------------------------------------------------- round trips

TEST_F(ZipTest, EveryLevelWithAndWithoutPasswordReadsBack) {
  std::string path = PathOf("levels.zip");
  std::string data = SampleData(70000, 1);
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path)) << writer.GetErrorText();
  for (int level = -1; level <= 9; ++level) {
    std::string n = std::to_string(level);
    ASSERT_TRUE(AddEntry(writer, NewEntry("plain\\" + n + ".bin", data, level), data)) << writer.GetErrorText();
    ASSERT_TRUE(AddEntry(writer, NewEntry("secret/" + n + ".bin", data, level, "pa55 word"), data))
        << writer.GetErrorText();
  }
  ASSERT_TRUE(writer.Close()) << writer.GetErrorText();

  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_EQ(22u, reader.GetEntryCount());
  std::size_t seen = 0;
  for (bool more = reader.GoToFirstEntry(); more; more = reader.GoToNextEntry(), ++seen) {
    const ZipEntryInfo* info = reader.GetCurrentEntry();
    ASSERT_NE(nullptr, info);
    bool secret = info->name.compare(0, 7, "secret/") == 0;
    EXPECT_EQ(secret, info->IsEncrypted()) << info->name;
    EXPECT_EQ(8, info->method);
    EXPECT_EQ(Crc(data), info->crc);
    EXPECT_EQ(data.size(), info->uncompressedSize);
    EXPECT_EQ(0x3A21, info->dosDate);
    EXPECT_EQ(0x6B5C, info->dosTime);
    EXPECT_EQ(0x20u, info->externalAttributes);
    EXPECT_FALSE(info->IsFolder());
    std::string back;
    EXPECT_TRUE(ReadCurrent(reader, back, secret ? "pa55 word" : nullptr)) << reader.GetErrorText();
    EXPECT_EQ(data, back) << info->name;
  }
  EXPECT_EQ(22u, seen);
  EXPECT_EQ(nullptr, reader.GetCurrentEntry());
}

// The bytes an entry's data takes in the archive, as written.
std::string EntryPayload(const std::string& path, const std::string& name) {
  CZipReader reader;
  if (!reader.Open(path) || !reader.LocateEntry(name, true)) return "(missing)";
  const ZipEntryInfo* info = reader.GetCurrentEntry();
  std::size_t start = info->localHeaderOffset + 30 + info->name.size();
  return ReadBytes(path).substr(start, info->compressedSize);
}

TEST_F(ZipTest, EveryEntryIsCompressedAsIfItWereTheFirst) {
  // One compressor serves the whole archive. Entries share their opening
  // bytes, so history carried over from an earlier entry would show, and
  // so would a level kept from the one before.
  const int levels[] = {9, 9, 1, 6, 0, -1, 9, 3};
  std::vector<std::string> data;
  for (std::size_t i = 0; i < std::size(levels); ++i) data.push_back(SampleData(9000 + 2500 * i, 7));
  std::string path = PathOf("shared.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i == 4) {  // a failed entry in between leaves nothing behind either
      ASSERT_TRUE(writer.OpenEntry(NewEntry("failed", "promised", levels[i], "pw")));
      ASSERT_TRUE(writer.WriteEntry(data[i].data(), data[i].size()));
      EXPECT_FALSE(writer.CloseEntry());
    }
    ASSERT_TRUE(AddEntry(writer, NewEntry(std::to_string(i), data[i], levels[i]), data[i])) << writer.GetErrorText();
  }
  ASSERT_TRUE(writer.Close());

  for (std::size_t i = 0; i < data.size(); ++i) {
    std::string alone = PathOf("alone.zip");
    CZipWriter single;
    ASSERT_TRUE(single.Create(alone));
    ASSERT_TRUE(AddEntry(single, NewEntry(std::to_string(i), data[i], levels[i]), data[i]));
    ASSERT_TRUE(single.Close());
    EXPECT_EQ(EntryPayload(alone, std::to_string(i)), EntryPayload(path, std::to_string(i))) << "level " << levels[i];
  }
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ(data.size(), reader.GetEntryCount());
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::string back;
    ASSERT_TRUE(reader.LocateEntry(std::to_string(i), true));
    EXPECT_TRUE(ReadCurrent(reader, back)) << reader.GetErrorText();
    EXPECT_EQ(data[i], back);
  }
}

TEST_F(ZipTest, EntriesReadCleanlyAfterDamagedOrUnfinishedOnes) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 31) + " of the settings\n";
  RawEntry damaged = Deflated("damaged.txt", text);
  damaged.payload[3] = static_cast<char>(damaged.payload[3] ^ 0x5A);
  RawEntry cut = Deflated("cut.txt", text);
  cut.payload.resize(cut.payload.size() / 2);
  cut.compressedSize = static_cast<std::uint32_t>(cut.payload.size());
  std::string path = PathOf("mixed.zip");
  WriteBytes(path, BuildArchive({Deflated("first.txt", text), damaged, cut, Stored("stored.txt", "plain"),
                                 Deflated("last.txt", text + "end")}));

  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_TRUE(reader.LocateEntry("first.txt", true));
  ASSERT_TRUE(reader.OpenEntry());
  char some[100];
  EXPECT_EQ(100, reader.ReadEntry(some, sizeof some));  // left unfinished
  std::string back;
  ASSERT_TRUE(reader.LocateEntry("damaged.txt", true));
  EXPECT_FALSE(ReadCurrent(reader, back));
  ASSERT_TRUE(reader.LocateEntry("cut.txt", true));
  EXPECT_FALSE(ReadCurrent(reader, back));
  ASSERT_TRUE(reader.LocateEntry("stored.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back));
  EXPECT_EQ("plain", back);
  ASSERT_TRUE(reader.LocateEntry("last.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back)) << reader.GetErrorText();
  EXPECT_EQ(text + "end", back);
  ASSERT_TRUE(reader.LocateEntry("first.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back)) << reader.GetErrorText();
  EXPECT_EQ(text, back);
}

TEST_F(ZipTest, EmptyEntriesAndEmptyArchivesAreValid) {
  std::string path = PathOf("empty.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ASSERT_TRUE(writer.Close());
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  EXPECT_EQ(0u, reader.GetEntryCount());
  EXPECT_FALSE(reader.GoToFirstEntry());

  ASSERT_TRUE(writer.Create(path));
  ASSERT_TRUE(AddEntry(writer, NewEntry("nothing.txt", "", 9), ""));
  ASSERT_TRUE(AddEntry(writer, NewEntry("locked.txt", "", 0, "pw"), ""));
  ASSERT_TRUE(writer.Close());
  ASSERT_TRUE(reader.Open(path));
  std::string back = "x";
  ASSERT_TRUE(reader.LocateEntry("nothing.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back));
  EXPECT_EQ("", back);
  ASSERT_TRUE(reader.LocateEntry("locked.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back, "pw")) << reader.GetErrorText();
}

TEST_F(ZipTest, DestroyingAnOpenWriterFinishesTheArchive) {
  std::string path = PathOf("destroyed.zip");
  {
    CZipWriter writer;
    ASSERT_TRUE(writer.Create(path));
    ASSERT_TRUE(writer.OpenEntry(NewEntry("a.txt", "abc")));
    ASSERT_TRUE(writer.WriteEntry("abc", 3));
  }
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  std::string back;
  EXPECT_TRUE(ReadCurrent(reader, back));
  EXPECT_EQ("abc", back);
}

// ---------------------------------------------------------------- appending

TEST_F(ZipTest, CreateAfterKeepsExistingEntries) {
  std::string path = PathOf("append.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.CreateAfter(path)) << "a missing file starts a new archive";
  ASSERT_TRUE(AddEntry(writer, NewEntry("first.txt", "one"), "one"));
  ASSERT_TRUE(writer.Close());
  ASSERT_TRUE(writer.CreateAfter(path)) << writer.GetErrorText();
  ASSERT_TRUE(writer.Close()) << "nothing added leaves the archive as it was";
  ASSERT_TRUE(writer.CreateAfter(path)) << writer.GetErrorText();
  ASSERT_TRUE(AddEntry(writer, NewEntry("Registry\\second.xml", "two", 5, "pw"), "two"));
  ASSERT_TRUE(writer.Close());

  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_EQ(2u, reader.GetEntryCount());
  std::string back;
  ASSERT_TRUE(reader.LocateEntry("first.txt", true));
  EXPECT_TRUE(ReadCurrent(reader, back));
  EXPECT_EQ("one", back);
  ASSERT_TRUE(reader.LocateEntry("Registry\\second.xml", true));
  EXPECT_TRUE(ReadCurrent(reader, back, "pw"));
  EXPECT_EQ("two", back);
}

TEST_F(ZipTest, CreateAfterRefusesFilesItWouldDamage) {
  std::string notZip = PathOf("notes.txt");
  WriteBytes(notZip, "These are notes, not an archive. Keep them.");
  std::string trailing = PathOf("trailing.zip");
  WriteBytes(trailing, BuildArchive({Stored("a", "A")}) + "junk after the end");
  // An end record that counts fewer entries than its directory holds.
  std::string undercounted = PathOf("undercounted.zip");
  std::string bytes = BuildArchive({Stored("a", "A"), Stored("b", "B")});
  bytes[bytes.size() - 22 + 8] = 1;
  bytes[bytes.size() - 22 + 10] = 1;
  WriteBytes(undercounted, bytes);
  for (const std::string& path : {notZip, trailing, undercounted}) {
    std::string before = ReadBytes(path);
    CZipWriter writer;
    EXPECT_FALSE(writer.CreateAfter(path)) << path;
    EXPECT_FALSE(writer.GetErrorText().empty());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(before, ReadBytes(path));
  }
}

// ---------------------------------------------------------------- finding

TEST_F(ZipTest, LocateEntryWithAndWithoutCase) {
  std::string path = PathOf("names.zip");
  WriteBytes(path, BuildArchive({Stored("Doc/Files/f.txt", "f"), Stored("Registry\\Office.xml", "o")}));
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_TRUE(reader.LocateEntry("registry\\office.XML", false));
  EXPECT_EQ("Registry\\Office.xml", reader.GetCurrentEntry()->name);
  EXPECT_FALSE(reader.LocateEntry("registry\\office.XML", true));
  EXPECT_FALSE(reader.GetErrorText().empty());
  EXPECT_TRUE(reader.LocateEntry("Doc/Files/f.txt", true));
  EXPECT_FALSE(reader.LocateEntry("Doc/Files/f.tx", false));
}

// ---------------------------------------------------------------- passwords

TEST_F(ZipTest, WrongOrMissingPasswordFailsCleanly) {
  std::string path = PathOf("locked.zip");
  std::string data = SampleData(5000, 2);
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ASSERT_TRUE(AddEntry(writer, NewEntry("locked.bin", data, 6, "right"), data));
  ASSERT_TRUE(writer.Close());

  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_FALSE(reader.OpenEntry());
  EXPECT_FALSE(reader.OpenEntry("wrong"));
  EXPECT_FALSE(reader.GetErrorText().empty());
  EXPECT_EQ(-1, reader.ReadEntry(nullptr, 10)) << "nothing is open after a failed open";

  // One wrong password in 256 passes the header check; the data then fails.
  int slipped = 0;
  for (int i = 0; i < 3000 && slipped < 3; ++i) {
    std::string guess = "guess" + std::to_string(i);
    if (!reader.OpenEntry(guess.c_str())) continue;
    ++slipped;
    reader.CloseEntry();
    std::string back;
    EXPECT_FALSE(ReadCurrent(reader, back, guess.c_str())) << guess;
    EXPECT_FALSE(reader.GetErrorText().empty());
  }
  EXPECT_GT(slipped, 0);
  std::string back;
  EXPECT_TRUE(ReadCurrent(reader, back, "right"));
  EXPECT_EQ(data, back);
}

TEST_F(ZipTest, DataThatDisagreesWithThePromisedCrcIsNotListed) {
  std::string path = PathOf("changed.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ZipNewEntry entry = NewEntry("changed.txt", "before", 6, "pw");
  ASSERT_TRUE(writer.OpenEntry(entry));
  ASSERT_TRUE(writer.WriteEntry("after!", 6));
  EXPECT_FALSE(writer.CloseEntry());
  EXPECT_FALSE(writer.GetErrorText().empty());
  ASSERT_TRUE(AddEntry(writer, NewEntry("kept.txt", "kept", 6, "pw"), "kept"));
  ASSERT_TRUE(writer.Close());
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_EQ(1u, reader.GetEntryCount());
  std::string back;
  EXPECT_TRUE(ReadCurrent(reader, back, "pw"));
  EXPECT_EQ("kept", back);
}

// A file whose reading failed halfway would pass its CRC check with the
// part that was read: such an entry is left out, the rest stays readable.
TEST_F(ZipTest, AbandonedEntryIsNotListed) {
  std::string path = PathOf("abandoned.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ASSERT_TRUE(writer.OpenEntry(NewEntry("part.txt", "", 6)));
  ASSERT_TRUE(writer.WriteEntry("the first half", 14));
  writer.AbandonEntry();
  ASSERT_TRUE(AddEntry(writer, NewEntry("kept.txt", "", 6), "kept"));
  ASSERT_TRUE(writer.Close());
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_EQ(1u, reader.GetEntryCount());
  std::string back;
  EXPECT_TRUE(ReadCurrent(reader, back, nullptr));
  EXPECT_EQ("kept", back);
}

TEST_F(ZipTest, WriterRefusesBadArguments) {
  CZipWriter writer;
  EXPECT_FALSE(writer.OpenEntry(NewEntry("x", "")));
  EXPECT_FALSE(writer.Create(""));
  EXPECT_FALSE(writer.Create(PathOf("no-such-folder/x.zip")));
  ASSERT_TRUE(writer.Create(PathOf("args.zip")));
  EXPECT_FALSE(writer.OpenEntry(NewEntry("", "")));
  EXPECT_FALSE(writer.OpenEntry(NewEntry("x", "", 10)));
  EXPECT_FALSE(writer.OpenEntry(NewEntry(std::string(70000, 'n'), "")));
  EXPECT_FALSE(writer.WriteEntry("x", 1));
  EXPECT_TRUE(writer.Close());
}

// Pieces deflated apart and written in order, as the packer's threads make
// them, are one stream: every level, pieces shorter and longer than the
// history, a last piece that is empty, and with a password.
TEST_F(ZipTest, PiecesDeflatedApartReadBackAsOneEntry) {
  const std::string data = SampleData(150000, 11);
  const std::size_t pieces[] = {1000, 32768, 50000, 150000};
  const int levels[] = {-1, 0, 1, 6, 9};
  std::string path = PathOf("pieces.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  CDeflatePiece deflater;
  std::vector<unsigned char> out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::vector<std::string> names;
  for (int level : levels) {
    for (std::size_t piece : pieces) {
      std::string name = std::to_string(level) + "-" + std::to_string(piece);
      names.push_back(name);
      ZipNewEntry entry = NewEntry(name, data, level, piece == 32768 ? "pw" : nullptr);
      entry.deflatedByCaller = true;
      ASSERT_TRUE(writer.OpenEntry(entry));
      EXPECT_FALSE(writer.WriteEntry("x", 1));  // plain data can't be mixed in
      for (std::size_t at = 0; at <= data.size(); at += piece) {
        std::size_t size = std::min(piece, data.size() - at);
        std::size_t history = std::min<std::size_t>(at, 40000);  // more than is used
        std::uint32_t crc = 0;
        ASSERT_TRUE(deflater.Compress(level, bytes + at - history, history, bytes + at, size,
                                      at + piece > data.size(), out, crc));
        ASSERT_TRUE(writer.WriteDeflated(out.data(), out.size(), size, crc)) << writer.GetErrorText();
      }
      ASSERT_TRUE(writer.CloseEntry()) << name << ": " << writer.GetErrorText();
    }
  }
  ASSERT_TRUE(writer.Close());
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  ASSERT_EQ(names.size(), reader.GetEntryCount());
  for (const std::string& name : names) {
    std::string back;
    ASSERT_TRUE(reader.LocateEntry(name, true));
    EXPECT_TRUE(ReadCurrent(reader, back, name.find("-32768") != std::string::npos ? "pw" : nullptr))
        << name << ": " << reader.GetErrorText();
    EXPECT_TRUE(back == data) << name;
  }
}

// Pieces deflate can't shrink are stored; a piece that only starts like
// that is still deflated; and an entry whose pieces switch between the two,
// also inside a piece, is one stream that reads back whole.
TEST_F(ZipTest, IncompressiblePiecesAreStoredAndTheRestDeflated) {
  std::mt19937 random(7);
  std::string noise(100000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < noise.size()) text += "quill mark backup " + std::to_string(text.size());
  text.resize(noise.size());
  // The mixed ones switch between storing and deflating inside the piece.
  const std::string pieces[] = {noise, noise.substr(0, 40000) + text.substr(40000),
                                text.substr(0, 65536) + noise.substr(0, 65536) +
                                    text.substr(0, 65536) + noise.substr(0, 65536),
                                text, noise};
  std::string data;
  for (const std::string& piece : pieces) data += piece;

  std::string path = PathOf("switching.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ZipNewEntry entry = NewEntry("switching", data, 6);
  entry.deflatedByCaller = true;
  ASSERT_TRUE(writer.OpenEntry(entry));
  CDeflatePiece deflater;
  std::vector<unsigned char> out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t at = 0;
  for (std::size_t i = 0; i < std::size(pieces); ++i) {
    std::size_t size = pieces[i].size();
    std::uint32_t crc = 0;
    ASSERT_TRUE(deflater.Compress(6, bytes, at, bytes + at, size, i + 1 == std::size(pieces), out, crc));
    if (pieces[i] == noise) {
      EXPECT_LE(out.size(), size + size / 1000 + 16) << i;
    } else {
      EXPECT_LT(out.size(), size * 3 / 4) << i;
    }
    ASSERT_TRUE(writer.WriteDeflated(out.data(), out.size(), size, crc)) << writer.GetErrorText();
    at += size;
  }
  ASSERT_TRUE(writer.CloseEntry()) << writer.GetErrorText();
  ASSERT_TRUE(writer.Close());
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  std::string back;
  ASSERT_TRUE(ReadCurrent(reader, back, nullptr)) << reader.GetErrorText();
  EXPECT_TRUE(back == data);
}

// A whole entry in one piece needs no patching afterwards; it is the same
// stream the writer's own compressor makes, and a piece that disagrees with
// the CRC an encrypted entry promised is refused before anything is written.
TEST_F(ZipTest, OnePieceEntriesMatchStreamedOnesAndKeepTheirPromise) {
  const std::string data = SampleData(20000, 5);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
  CDeflatePiece deflater;
  std::vector<unsigned char> out;
  std::uint32_t crc = 0;
  ASSERT_TRUE(deflater.Compress(6, nullptr, 0, bytes, data.size(), true, out, crc));
  EXPECT_EQ(Crc(data), crc);

  std::string path = PathOf("one-piece.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(path));
  ASSERT_TRUE(AddEntry(writer, NewEntry("streamed", data, 6), data));
  ZipNewEntry whole = NewEntry("whole", data, 6);
  whole.deflatedByCaller = true;
  std::vector<unsigned char> copy = out;
  ASSERT_TRUE(writer.AddDeflatedEntry(whole, copy.data(), copy.size(), data.size(), crc));
  ZipNewEntry promised = NewEntry("promised", "other data", 6, "pw");
  promised.deflatedByCaller = true;
  copy = out;
  EXPECT_FALSE(writer.AddDeflatedEntry(promised, copy.data(), copy.size(), data.size(), crc));
  ZipNewEntry secret = NewEntry("secret", data, 6, "pw");
  secret.deflatedByCaller = true;
  copy = out;
  ASSERT_TRUE(writer.AddDeflatedEntry(secret, copy.data(), copy.size(), data.size(), crc));
  ASSERT_TRUE(writer.Close());

  EXPECT_EQ(EntryPayload(path, "streamed"), EntryPayload(path, "whole"));
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  ASSERT_EQ(3u, reader.GetEntryCount());
  std::string back;
  ASSERT_TRUE(reader.LocateEntry("secret", true));
  EXPECT_TRUE(ReadCurrent(reader, back, "pw")) << reader.GetErrorText();
  EXPECT_TRUE(back == data);
}

// ---------------------------------------------------------------- other writers

TEST_F(ZipTest, ReadsStoredDescriptorAndFolderEntries) {
  std::string big = SampleData(40000, 3);
  RawEntry streamed = Deflated("streamed.bin", big);
  streamed.descriptor = true;
  RawEntry streamedStored = Stored("raw/stored.bin", "stored bytes");
  streamedStored.descriptor = true;
  RawEntry folder = Stored("Doc/Files/", "");
  RawEntry attributeFolder = Stored("Registry", "");
  attributeFolder.externalAttributes = 0x10;
  std::string path = PathOf("foreign.zip");
  WriteBytes(path, BuildArchive({Stored("plain.txt", "plain"), streamed, streamedStored, folder, attributeFolder}));

  CZipReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.GetErrorText();
  std::string back;
  ASSERT_TRUE(reader.LocateEntry("plain.txt", true));
  EXPECT_EQ(0, reader.GetCurrentEntry()->method);
  EXPECT_TRUE(ReadCurrent(reader, back));
  EXPECT_EQ("plain", back);
  ASSERT_TRUE(reader.LocateEntry("streamed.bin", true));
  EXPECT_TRUE(ReadCurrent(reader, back)) << reader.GetErrorText();
  EXPECT_EQ(big, back);
  ASSERT_TRUE(reader.LocateEntry("raw/stored.bin", true));
  EXPECT_TRUE(ReadCurrent(reader, back)) << reader.GetErrorText();
  EXPECT_EQ("stored bytes", back);
  ASSERT_TRUE(reader.LocateEntry("Doc/Files/", true));
  EXPECT_TRUE(reader.GetCurrentEntry()->IsFolder());
  EXPECT_TRUE(ReadCurrent(reader, back));
  ASSERT_TRUE(reader.LocateEntry("registry", false));
  EXPECT_TRUE(reader.GetCurrentEntry()->IsFolder());
}

// ---------------------------------------------------------------- damage

// Opens and reads every entry; only whether it stays safe matters.
void ReadEverything(const std::string& path) {
  CZipReader reader;
  if (!reader.Open(path)) {
    EXPECT_FALSE(reader.GetErrorText().empty());
    return;
  }
  for (bool more = reader.GoToFirstEntry(); more; more = reader.GoToNextEntry()) {
    std::string back;
    if (!ReadCurrent(reader, back, "pw")) {
      EXPECT_FALSE(reader.GetErrorText().empty());
    }
  }
}

TEST_F(ZipTest, TruncatedAndCorruptedArchivesFailSafely) {
  std::string good = PathOf("good.zip");
  CZipWriter writer;
  ASSERT_TRUE(writer.Create(good));
  ASSERT_TRUE(AddEntry(writer, NewEntry("a.txt", SampleData(3000, 4), 6), SampleData(3000, 4)));
  ASSERT_TRUE(AddEntry(writer, NewEntry("b.txt", "bee", 0, "pw"), "bee"));
  ASSERT_TRUE(writer.Close());
  std::string bytes = ReadBytes(good);
  std::string damaged = PathOf("damaged.zip");
  for (std::size_t length = 0; length < bytes.size(); length += 7) {
    WriteBytes(damaged, bytes.substr(0, length));
    ReadEverything(damaged);
  }
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    std::string copy = bytes;
    for (int flips = 0; flips < 3; ++flips) copy[random() % copy.size()] = static_cast<char>(random());
    WriteBytes(damaged, copy);
    ReadEverything(damaged);
  }
}

TEST_F(ZipTest, WrongRecordedSizesAndCrcAreErrors) {
  std::string data = SampleData(20000, 6);
  struct Case {
    const char* what;
    RawEntry entry;
    bool opens;
  };
  std::vector<Case> cases;
  RawEntry longer = Deflated("x", data);
  longer.uncompressedSize -= 1;
  cases.push_back({"data longer than recorded", longer, true});
  RawEntry shorter = Deflated("x", data);
  shorter.uncompressedSize += 1;
  cases.push_back({"data shorter than recorded", shorter, true});
  RawEntry cut = Deflated("x", data);
  cut.compressedSize /= 2;
  cases.push_back({"compressed data cut short", cut, true});
  RawEntry badCrc = Deflated("x", data);
  badCrc.crc ^= 1;
  cases.push_back({"bad CRC", badCrc, true});
  RawEntry storedMismatch = Stored("x", data);
  storedMismatch.uncompressedSize += 5;
  cases.push_back({"stored sizes disagree", storedMismatch, false});
  RawEntry pastEnd = Deflated("x", data);
  pastEnd.compressedSize = 0x7FFFFFFF;
  cases.push_back({"compressed size past the end", pastEnd, false});
  RawEntry method = Deflated("x", data);
  method.method = 12;
  cases.push_back({"unknown method", method, false});

  for (const Case& c : cases) {
    std::string path = PathOf("case.zip");
    WriteBytes(path, BuildArchive({c.entry}));
    CZipReader reader;
    ASSERT_TRUE(reader.Open(path)) << c.what;
    if (!c.opens) {
      EXPECT_FALSE(reader.OpenEntry()) << c.what;
      EXPECT_FALSE(reader.GetErrorText().empty()) << c.what;
      continue;
    }
    std::string back;
    EXPECT_FALSE(ReadCurrent(reader, back)) << c.what;
    EXPECT_FALSE(reader.GetErrorText().empty()) << c.what;
    EXPECT_LE(back.size(), c.entry.uncompressedSize) << c.what << ": never more than recorded";
  }
}

TEST_F(ZipTest, CrcIsCheckedWhenTheCallerStopsAtTheRecordedSize) {
  RawEntry entry = Deflated("x", "exactly this");
  entry.crc ^= 0x100;
  std::string path = PathOf("crc.zip");
  WriteBytes(path, BuildArchive({entry}));
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  ASSERT_TRUE(reader.OpenEntry());
  char buffer[12];
  ASSERT_EQ(12, reader.ReadEntry(buffer, sizeof buffer));
  EXPECT_FALSE(reader.CloseEntry());
  EXPECT_NE(std::string::npos, reader.GetErrorText().find("CRC"));
}

TEST_F(ZipTest, HostileDirectoriesAreRefusedAtOpen) {
  std::string base = BuildArchive({Stored("a.txt", "a")});
  std::size_t end = base.size() - 22;
  auto patched = [&](std::size_t at, std::uint32_t value, int width) {
    std::string copy = base;
    for (int i = 0; i < width; ++i) copy[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return copy;
  };
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"entry count far beyond the directory", patched(end + 8, 0xFFFF, 2)},
      {"directory offset past the end", patched(end + 16, 0xFFFFFF00u, 4)},
      {"directory size past the end", patched(end + 12, 0x7FFFFFFF, 4)},
      {"several disks", patched(end + 4, 1, 2)},
      {"huge name length", patched(end - 46 - 5 + 28, 0xFFFF, 2)},
      {"not a zip at all", std::string(100, 'z')},
  };
  for (const Case& c : cases) {
    std::string path = PathOf("hostile.zip");
    WriteBytes(path, c.bytes);
    CZipReader reader;
    EXPECT_FALSE(reader.Open(path)) << c.what;
    EXPECT_FALSE(reader.GetErrorText().empty()) << c.what;
  }
  std::string path = PathOf("offset.zip");
  WriteBytes(path, patched(end - 46 - 5 + 42, 0x7FFFFFF0, 4));
  CZipReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_FALSE(reader.OpenEntry()) << "local header offset past the end";
}

}  // namespace
