// What the programs ask the loader for before their first line runs: every
// library imported here is loaded and initialised on each start, whether
// the run needs it or not.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/Text.h"
#include "support/TestSupport.h"

namespace {

// Reads a program's import directory from its file: the names of the
// libraries it imports at load time, in lower case. Empty, with a failure
// reported, when the file isn't a program this can read.
class CImportReader {
 public:
  explicit CImportReader(const std::string& path) : m_image(ReadWholeFile(path)) {}

  std::vector<std::string> Libraries() {
    std::vector<std::string> names;
    IMAGE_DOS_HEADER dos;
    if (!Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return Failed(names);
    size_t headers = static_cast<size_t>(dos.e_lfanew);
    IMAGE_FILE_HEADER file;
    WORD magic;
    size_t optional = headers + sizeof(DWORD) + sizeof file;
    if (!Read(headers + sizeof(DWORD), file) || !Read(optional, magic)) return Failed(names);
    size_t directories = optional + (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                         ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                         : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    IMAGE_DATA_DIRECTORY imports;
    if (!Read(directories + IMAGE_DIRECTORY_ENTRY_IMPORT * sizeof imports, imports)) return Failed(names);
    m_sections = optional + file.SizeOfOptionalHeader;
    m_sectionCount = file.NumberOfSections;

    size_t at = 0;
    if (!FileOffset(imports.VirtualAddress, at)) return Failed(names);
    for (IMAGE_IMPORT_DESCRIPTOR entry; Read(at, entry) && entry.Name != 0; at += sizeof entry) {
      size_t name = 0;
      if (!FileOffset(entry.Name, name) || name >= m_image.size()) return Failed(names);
      names.push_back(ToLowerAscii(m_image.c_str() + name));
    }
    return names;
  }

 private:
  template <typename T>
  bool Read(size_t offset, T& value) const {
    if (offset > m_image.size() || m_image.size() - offset < sizeof value) return false;
    std::memcpy(&value, m_image.data() + offset, sizeof value);
    return true;
  }
  bool FileOffset(DWORD address, size_t& offset) const {
    for (size_t i = 0; i < m_sectionCount; ++i) {
      IMAGE_SECTION_HEADER section;
      if (!Read(m_sections + i * sizeof section, section)) return false;
      DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
      if (address >= section.VirtualAddress && address - section.VirtualAddress < size) {
        offset = section.PointerToRawData + (address - section.VirtualAddress);
        return true;
      }
    }
    return false;
  }
  std::vector<std::string>& Failed(std::vector<std::string>& names) const {
    ADD_FAILURE() << "not a program whose imports can be read";
    names.clear();
    return names;
  }

  std::string m_image;
  size_t m_sections = 0;
  size_t m_sectionCount = 0;
};

bool Imports(const std::vector<std::string>& libraries, const char* name) {
  return std::find(libraries.begin(), libraries.end(), name) != libraries.end();
}

// The common controls are the wizard's. Under Wine their initialisation
// starts the desktop process, which cost the console program most of its
// start-up.
TEST(ConsoleProgramImports, LeaveTheCommonControlsToTheWizard) {
  std::vector<std::string> console = CImportReader(ProgramFolder() + "backupcmd.exe").Libraries();
  EXPECT_TRUE(Imports(console, "kernel32.dll"));
  EXPECT_FALSE(Imports(console, "comctl32.dll"));

  std::vector<std::string> windowed = CImportReader(ProgramFolder() + "backup.exe").Libraries();
  EXPECT_TRUE(Imports(windowed, "comctl32.dll"));
}

// WinINet and OLE serve a few special items and the schedule, and are
// loaded when those first run. A Windows 95 without Internet Explorer has
// no WinINet: a program importing it would not start there at all.
TEST(ProgramImports, LeaveInternetAndComLibrariesToTheRunsThatUseThem) {
  for (const char* program : {"backupcmd.exe", "backup.exe"}) {
    SCOPED_TRACE(program);
    std::vector<std::string> libraries = CImportReader(ProgramFolder() + program).Libraries();
    EXPECT_TRUE(Imports(libraries, "kernel32.dll"));
    EXPECT_FALSE(Imports(libraries, "wininet.dll"));
    EXPECT_FALSE(Imports(libraries, "ole32.dll"));
    // The schedule's password protection; NT 4.0 and the 95 family may lack it.
    EXPECT_FALSE(Imports(libraries, "crypt32.dll"));
  }
}

}  // namespace
