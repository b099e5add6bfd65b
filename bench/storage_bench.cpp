// The storage layer on a generated folder tree: copying it with CDiskObject,
// packing it with ArchiveWriter and unpacking it with ArchiveReader. Every
// operation runs in a process of its own, so the peak memory it reports is
// its own. bench/storage_bench.sh runs the operations one by one beside the
// peers doing the same job and prints the ratios.
//   storage_bench generate <folder> <MB>          the tree, from a fixed seed
//   storage_bench bigfile <folder> <MB>           one large file in the folder
//   storage_bench copy <source> <target>          CDiskObject::CopyFolderTree
//   storage_bench pack <folder> <archive>         ArchiveWriter at level 6
//   storage_bench unpack <archive> <target>       ArchiveReader::UnpackFolder
//   storage_bench timed-copy <source> <target>    "copy" as a child process, timed from here
//   storage_bench timed-xcopy <source> <target>   xcopy.exe /E /I /Q /Y, timed the same way
//   storage_bench verify <expected> <actual>      the same files with the same contents
// Timed operations end with a line "result seconds=... peak_working_set=...
// peak_private=..." (bytes); timed children with "wall seconds=...".
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "base/Interaction.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

[[noreturn]] void Fail(const std::string& text) {
  std::fprintf(stderr, "storage_bench: %s\n", text.c_str());
  std::fflush(stderr);
  std::exit(1);
}

// Questions the storage layer asks on errors are printed and answered with
// the default for a closed input, so a failure ends the run instead of
// waiting for a key.
class CBenchInteraction : public CInteraction {
 public:
  CBenchInteraction() { m_previous = SetInteraction(this); }
  ~CBenchInteraction() override { SetInteraction(m_previous); }
  int ShowMessageBox(HWND, const std::string& text, const std::string& caption, UINT) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return IDABORT;
  }
  int ReadKey() override { return -1; }
  void WriteOutput(const std::string& text) override { std::fputs(text.c_str(), stderr); }

 private:
  CInteraction* m_previous;
};

// ---------------------------------------------------------------- memory

// The process's peak working set and private bytes while it lives. The
// private-bytes peak is also sampled, because some systems (Wine among
// them) report the current figure as the peak.
class CMemoryWatch {
 public:
  CMemoryWatch() {
    m_stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_thread = CreateThread(NULL, 0, &CMemoryWatch::Watch, this, 0, NULL);
  }
  ~CMemoryWatch() { Stop(); }

  void Stop() {
    if (m_thread == NULL) return;
    SetEvent(m_stop);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    CloseHandle(m_stop);
    m_thread = NULL;
    Sample();
  }
  SIZE_T PeakWorkingSet() const { return m_peakWorkingSet; }
  SIZE_T PeakPrivate() const { return m_peakPrivate; }

 private:
  static DWORD WINAPI Watch(void* self) {
    CMemoryWatch* watch = static_cast<CMemoryWatch*>(self);
    do watch->Sample();
    while (WaitForSingleObject(watch->m_stop, 10) == WAIT_TIMEOUT);
    return 0;
  }
  void Sample() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return;
    m_peakWorkingSet = std::max({m_peakWorkingSet, counters.PeakWorkingSetSize, counters.WorkingSetSize});
    m_peakPrivate = std::max({m_peakPrivate, counters.PeakPagefileUsage, counters.PagefileUsage});
  }

  HANDLE m_stop = NULL;
  HANDLE m_thread = NULL;
  // Written by the watching thread only until Stop has joined it.
  volatile SIZE_T m_peakWorkingSet = 0;
  volatile SIZE_T m_peakPrivate = 0;
};

void PrintResult(double seconds, const CMemoryWatch& memory) {
  std::printf("result seconds=%.3f peak_working_set=%llu peak_private=%llu\n", seconds,
              static_cast<unsigned long long>(memory.PeakWorkingSet()),
              static_cast<unsigned long long>(memory.PeakPrivate()));
}

// ---------------------------------------------------------------- data

// SplitMix64: small, fast and the same on every compiler.
class CRandom {
 public:
  explicit CRandom(std::uint64_t seed) : m_state(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned bound) { return static_cast<unsigned>(Next() % bound); }

 private:
  std::uint64_t m_state;
};

const char* const kWords[] = {
    "window",   "position", "recent",  "file",     "toolbar",  "visible", "colour",  "font",
    "size",     "last",     "folder",  "path",     "default",  "enabled", "options", "language",
    "theme",    "width",    "height",  "left",     "top",      "state",   "maximized", "cache",
    "history",  "profile",  "user",    "server",   "port",     "proxy",   "timeout", "update",
    "check",    "interval", "sound",   "volume",   "plugin",   "version", "license", "register",
    "shortcut", "key",      "value",   "account",  "mail",     "signature", "format", "encoding",
    "true",     "false",    "none",    "auto",     "always",   "never",   "ask",     "open",
    "save",     "export",   "import",  "print",    "preview",  "zoom",    "grid",    "snap"};
const unsigned kWordCount = sizeof kWords / sizeof kWords[0];

// One line of text, put together without the C library's formatting: that
// is slow enough under Wine to dominate making the tree.
class CLine {
 public:
  CLine& operator<<(const char* text) {
    while (*text != '\0') m_text[m_length++] = *text++;
    return *this;
  }
  CLine& operator<<(unsigned number) {
    char digits[10];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + number % 10);
    while ((number /= 10) > 0);
    while (count > 0) m_text[m_length++] = digits[--count];
    return *this;
  }
  const char* Text() const { return m_text; }
  size_t Length() const { return m_length; }

 private:
  char m_text[160];  // the longest line is well below this
  size_t m_length = 0;
};

// Lines of settings text: compresses about three to one.
void FillText(CRandom& random, char* out, size_t size) {
  auto word = [&random] { return kWords[random.Below(kWordCount)]; };
  size_t at = 0;
  while (at < size) {
    CLine line;
    switch (random.Below(4)) {
      case 0:
        line << "[" << word() << " " << word() << "]\r\n";
        break;
      case 1:
        line << word() << word() << "=" << random.Below(100000) << "\r\n";
        break;
      case 2:
        line << word() << "=" << word() << " " << word() << " " << word() << "\r\n";
        break;
      default:
        line << "<" << word() << " name=\"" << word() << random.Below(1000) << "\" value=\"" << word()
             << "\"/>\r\n";
        break;
    }
    size_t take = std::min(size - at, line.Length());
    std::copy(line.Text(), line.Text() + take, out + at);
    at += take;
  }
}

// Incompressible, like pictures or data that is packed already.
void FillRandom(CRandom& random, char* out, size_t size) {
  for (size_t at = 0; at < size; at += 8) {
    std::uint64_t bits = random.Next();
    for (size_t i = 0; i < 8 && at + i < size; ++i) out[at + i] = static_cast<char>(bits >> (8 * i));
  }
}

// Fixed-size binary records with a few varying fields: compresses well,
// but not like text.
void FillRecords(CRandom& random, std::uint32_t& index, char* out, size_t size) {
  for (size_t at = 0; at < size; at += 32) {
    unsigned char record[32] = {};
    std::uint32_t number = index++;
    std::uint32_t field = random.Below(5000);
    std::copy(reinterpret_cast<unsigned char*>(&number), reinterpret_cast<unsigned char*>(&number) + 4, record);
    std::copy("RECORD01", "RECORD01" + 8, record + 4);
    std::copy(reinterpret_cast<unsigned char*>(&field), reinterpret_cast<unsigned char*>(&field) + 4, record + 12);
    record[16] = static_cast<unsigned char>(random.Below(4));
    std::copy(record, record + std::min<size_t>(32, size - at), out + at);
  }
}

enum class Content { Text, Random, Records, Mixed, Big };

const size_t kChunk = 1 << 20;

// Writes `size` bytes of that content, generated from the seed.
void WriteGenerated(const std::string& path, std::uint64_t size, Content content, std::uint64_t seed) {
  CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
  if (!file.Valid()) Fail("can't create " + path);
  CRandom random(seed);
  std::uint32_t record = 0;
  static std::vector<char> buffer(kChunk);
  for (std::uint64_t done = 0, block = 0; done < size; ++block) {
    size_t piece = static_cast<size_t>(std::min<std::uint64_t>(kChunk, size - done));
    switch (content) {
      case Content::Text:
        FillText(random, buffer.data(), piece);
        break;
      case Content::Random:
        FillRandom(random, buffer.data(), piece);
        break;
      case Content::Records:
        FillRecords(random, record, buffer.data(), piece);
        break;
      case Content::Mixed:
        // Alternating stretches of text and random bytes inside one file.
        for (size_t at = 0; at < piece; at += 65536) {
          size_t part = std::min<size_t>(65536, piece - at);
          if ((at / 65536) % 2 == 0)
            FillText(random, buffer.data() + at, part);
          else
            FillRandom(random, buffer.data() + at, part);
        }
        break;
      case Content::Big:
        // Mostly zero-filled blocks with a numbered header every 4 KB, one
        // block in four text and one in sixteen random bytes.
        if (block % 16 == 0) {
          FillRandom(random, buffer.data(), piece);
        } else if (block % 4 == 1) {
          FillText(random, buffer.data(), piece);
        } else {
          std::fill(buffer.begin(), buffer.begin() + piece, 0);
          for (size_t at = 0; at + 64 <= piece; at += 4096)
            std::snprintf(buffer.data() + at, 64, "block %llu offset %llu",
                          static_cast<unsigned long long>(block), static_cast<unsigned long long>(at));
        }
        break;
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.data(), static_cast<DWORD>(piece), &written, NULL) || written != piece)
      Fail("can't write " + path);
    done += piece;
  }
}

std::string Folder(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

void MakeFolder(const std::string& path) {
  if (!CreateDirectoryA(path.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
    Fail("can't create folder " + path);
}

// A few thousand small files (1 to 64 KB) in nested folders, two fifths of
// the size, and six large files of a tenth each; text, records and random
// bytes mixed. The same size always gives the same tree.
void Generate(const std::string& root, std::uint64_t totalBytes) {
  CRandom random(20240611);
  std::string base = Folder(root);
  MakeFolder(base);

  std::uint64_t largeEach = totalBytes / 10;
  std::uint64_t smallBudget = totalBytes - 6 * largeEach;
  std::vector<std::uint32_t> smallSizes;
  for (std::uint64_t used = 0; used < smallBudget;) {
    std::uint32_t size = 1024 + random.Below(63 * 1024 + 1);
    size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, smallBudget - used));
    smallSizes.push_back(size);
    used += size;
  }

  // Folders up to five deep below the root, each made under one made before.
  static const char* const kFolderNames[] = {"Vendor", "Program", "Settings", "Profiles", "Cache", "Data",
                                             "Plugins", "Templates", "Skins", "User"};
  size_t folderCount = std::min<size_t>(240, std::max<size_t>(4, smallSizes.size() / 25));
  std::vector<std::string> folders;
  std::vector<int> depths;
  for (size_t i = 0; i < folderCount; ++i) {
    size_t parent;
    do parent = folders.empty() ? 0 : random.Below(static_cast<unsigned>(folders.size() + 1));
    while (parent > 0 && depths[parent - 1] >= 5);
    std::string under = parent == 0 ? base : folders[parent - 1];
    char name[64];
    std::snprintf(name, sizeof name, "%s%03u\\", kFolderNames[random.Below(10)], static_cast<unsigned>(i));
    folders.push_back(under + name);
    depths.push_back(parent == 0 ? 1 : depths[parent - 1] + 1);
    MakeFolder(folders.back());
  }

  static const char* const kTextExtensions[] = {"ini", "xml", "txt", "log", "cfg"};
  for (size_t i = 0; i < smallSizes.size(); ++i) {
    // Every folder holds at least one file: packed sets keep no empty ones.
    const std::string& folder = i < folders.size() ? folders[i] : folders[random.Below(static_cast<unsigned>(folders.size()))];
    unsigned kind = random.Below(20);
    Content content = kind < 11 ? Content::Text : kind < 16 ? Content::Random : Content::Records;
    char name[64];
    if (content == Content::Text)
      std::snprintf(name, sizeof name, "settings%05u.%s", static_cast<unsigned>(i), kTextExtensions[random.Below(5)]);
    else if (content == Content::Random)
      std::snprintf(name, sizeof name, "picture%05u.jpg", static_cast<unsigned>(i));
    else
      std::snprintf(name, sizeof name, "records%05u.dat", static_cast<unsigned>(i));
    WriteGenerated(folder + name, smallSizes[i], content, random.Next());
  }

  static const char* const kLargeFolders[] = {"Library\\", "Library\\Media\\", "Mailbox\\"};
  static const char* const kLargeNames[] = {"messages.txt", "photos.bin", "index.dat"};
  static const Content kLargeContents[] = {Content::Text, Content::Random, Content::Mixed};
  for (const char* folder : kLargeFolders) MakeFolder(base + folder);
  for (int i = 0; i < 6; ++i) {
    std::string path = base + kLargeFolders[i % 3] + std::to_string(i / 3) + kLargeNames[i % 3];
    WriteGenerated(path, largeEach, kLargeContents[i % 3], random.Next());
  }
  std::printf("tree files=%zu folders=%zu bytes=%llu large_files=6 large_bytes=%llu\n", smallSizes.size() + 6,
              folders.size() + 3, static_cast<unsigned long long>(totalBytes),
              static_cast<unsigned long long>(largeEach));
}

// ---------------------------------------------------------------- checking

struct FileSum {
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

FileSum Summarise(const std::string& path) {
  CHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
  if (!file.Valid()) Fail("can't read " + path);
  FileSum sum;
  sum.crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
  static std::vector<unsigned char> buffer(kChunk);
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, NULL) && got > 0) {
    sum.crc = static_cast<std::uint32_t>(crc32(sum.crc, buffer.data(), got));
    sum.size += got;
  }
  return sum;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

struct Listed {
  std::string name;  // relative, as the file system spells it
  std::uint64_t size;
};

// The files below a folder by relative name in lower case: names compare
// without case as the file system does.
void ListTree(const std::string& folder, const std::string& relative, std::map<std::string, Listed>& files) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + relative + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListTree(folder, relative + name + "\\", files);
    else
      files[Lower(relative + name)] = {relative + name, CombineSize(data.nFileSizeHigh, data.nFileSizeLow)};
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

// The actual tree must hold exactly the expected files, with the same sizes
// and contents: a copy that left anything out or behind doesn't count.
int Verify(const std::string& expectedRoot, const std::string& actualRoot) {
  std::string expected = Folder(expectedRoot), actual = Folder(actualRoot);
  std::map<std::string, Listed> want, have;
  ListTree(expected, "", want);
  ListTree(actual, "", have);
  int problems = 0;
  auto report = [&problems](const std::string& text) {
    if (++problems <= 10) std::printf("verify: %s\n", text.c_str());
  };
  std::uint64_t bytes = 0;
  for (const auto& file : want) {
    auto found = have.find(file.first);
    if (found == have.end()) {
      report("missing " + file.second.name);
      continue;
    }
    if (found->second.size != file.second.size) {
      report("size differs: " + file.second.name);
      continue;
    }
    FileSum a = Summarise(expected + file.second.name), b = Summarise(actual + found->second.name);
    if (a.crc != b.crc || a.size != b.size) report("contents differ: " + file.second.name);
    bytes += file.second.size;
  }
  for (const auto& file : have)
    if (want.find(file.first) == want.end()) report("unexpected " + file.second.name);
  if (want.empty()) report("nothing to compare in " + expected);
  if (problems > 0) {
    std::printf("verify failed: %d problems\n", problems);
    return 1;
  }
  std::printf("verify ok files=%zu bytes=%llu\n", want.size(), static_cast<unsigned long long>(bytes));
  return 0;
}

// ---------------------------------------------------------------- operations

std::string Quoted(std::string path) {
  // A backslash before the closing quote would escape it.
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return "\"" + path + "\"";
}

int Copy(const std::string& source, const std::string& target) {
  CMemoryWatch memory;
  double start = Now();
  CDiskObject disk(true, NULL);
  bool ok = disk.CopyFolderTree(source, target, "");
  double seconds = Now() - start;
  memory.Stop();
  if (!ok) Fail("copying failed: " + disk.GetErrorText());
  PrintResult(seconds, memory);
  return 0;
}

int Pack(const std::string& folder, const std::string& archive) {
  CMemoryWatch memory;
  double start = Now();
  ArchiveWriter writer;
  if (!writer.Open(archive, folder, false, std::nullopt, 6)) Fail("can't create the archive: " + writer.GetErrorText());
  bool added = writer.AddFolder(folder, "", true);
  bool closed = writer.Close();
  double seconds = Now() - start;
  memory.Stop();
  if (!added || !closed) Fail("packing failed: " + writer.GetErrorText());
  CDiskObject disk(false, NULL);
  PrintResult(seconds, memory);
  std::printf("archive bytes=%llu\n", static_cast<unsigned long long>(disk.FileSize(archive)));
  return 0;
}

int Unpack(const std::string& archive, const std::string& target) {
  CMemoryWatch memory;
  double start = Now();
  ArchiveReader reader(archive, true, NULL);
  if (!reader.IsOpen()) Fail("can't open the archive: " + reader.GetErrorText());
  bool ok = reader.UnpackFolder("", target);
  reader.Close();
  double seconds = Now() - start;
  memory.Stop();
  if (!ok) Fail("unpacking failed: " + reader.GetErrorText());
  PrintResult(seconds, memory);
  return 0;
}

// A command line as a child process, timed from here from start to end.
int TimeChild(const std::string& commandLine) {
  double start = Now();
  Finished run = RunCommand(commandLine);
  double seconds = Now() - start;
  std::fputs(run.output.c_str(), stdout);
  if (run.status != 0) Fail("failed (" + std::to_string(run.status) + "): " + commandLine);
  std::printf("wall seconds=%.3f\n", seconds);
  return 0;
}

std::string ThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  return std::string(path, length);
}

int Usage() {
  std::fprintf(stderr,
               "usage: storage_bench generate <folder> <MB> | bigfile <folder> <MB> |\n"
               "       copy|timed-copy|timed-xcopy <source> <target> | pack <folder> <archive> |\n"
               "       unpack <archive> <target> | verify <expected> <actual>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  std::string operation = argv[1], first = argv[2], second = argv[3];
  CBenchInteraction interaction;
  if (operation == "generate" || operation == "bigfile") {
    long megabytes = std::atol(argv[3]);
    if (megabytes <= 0) return Usage();
    std::uint64_t bytes = static_cast<std::uint64_t>(megabytes) << 20;
    if (operation == "generate") {
      Generate(first, bytes);
    } else {
      MakeFolder(Folder(first));
      WriteGenerated(Folder(first) + "large.bin", bytes, Content::Big, 77);
    }
    return 0;
  }
  if (operation == "copy") return Copy(first, second);
  if (operation == "pack") return Pack(first, second);
  if (operation == "unpack") return Unpack(first, second);
  if (operation == "verify") return Verify(first, second);
  if (operation == "timed-copy") return TimeChild(Quoted(ThisProgram()) + " copy " + Quoted(first) + " " + Quoted(second));
  if (operation == "timed-xcopy") return TimeChild("xcopy.exe /E /I /Q /Y " + Quoted(first) + " " + Quoted(second));
  return Usage();
}
