// Holds a file open with no sharing, as a running program holds its data,
// until the file named second appears (or a minute passes). Once the file
// is open it makes the release file's name with ".held" added, for the test
// waiting on it; exit status 1 if the file can't be opened.
//   hold_probe <file> <release-file>
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::string held = std::string(argv[2]) + ".held";
  CloseHandle(CreateFileA(held.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  for (int wait = 0; wait < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++wait)
    Sleep(100);
  CloseHandle(file);
  return 0;
}
