// The least a Windows program can do to copy a folder tree: walk it with
// FindFirstFileA/FindNextFileA, make each folder with CreateDirectoryA and
// copy each file in 1 MiB ReadFile/WriteFile blocks. No attributes, no
// times, no temporary copies, nothing from the rest of the project: the
// floor that bench/engine_bench.sh holds the console program's copies
// against.
//   floor_copy <source-folder> <target-folder>
// Exits with 0 when every file was copied, 1 at the first failure.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const DWORD kBlock = 1024 * 1024;

bool Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "floor_copy: can't %s %s (%lu)\n", what, path.c_str(), GetLastError());
  return false;
}

bool CopyOne(const std::string& source, const std::string& target, std::vector<char>& block) {
  HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (in == INVALID_HANDLE_VALUE) return Fail("open", source);
  HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return Fail("create", target);
  }
  bool copied = true;
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(in, &block[0], kBlock, &read, NULL)) {
      copied = Fail("read", source);
      break;
    }
    if (read == 0) break;
    if (!WriteFile(out, &block[0], read, &written, NULL) || written != read) {
      copied = Fail("write", target);
      break;
    }
  }
  CloseHandle(in);
  if (!CloseHandle(out) && copied) copied = Fail("close", target);
  return copied;
}

// `source` and `target` end with a backslash; the target folder exists.
bool CopyTree(const std::string& source, const std::string& target, std::vector<char>& block) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((source + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return Fail("list", source);
  bool copied = true;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      std::string folder = target + name;
      if (!CreateDirectoryA(folder.c_str(), NULL)) copied = Fail("create", folder);
      else copied = CopyTree(source + name + "\\", folder + "\\", block);
    } else {
      copied = CopyOne(source + name, target + name, block);
    }
  } while (copied && FindNextFileA(find, &found));
  if (copied && GetLastError() != ERROR_NO_MORE_FILES) copied = Fail("list", source);
  FindClose(find);
  return copied;
}

std::string WithSlash(std::string path) {
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor_copy <source-folder> <target-folder>\n");
    return 2;
  }
  std::string source = WithSlash(argv[1]), target = WithSlash(argv[2]);
  if (!CreateDirectoryA(target.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Fail("create", target);
    return 1;
  }
  std::vector<char> block(kBlock);
  return CopyTree(source, target, block) ? 0 : 1;
}
