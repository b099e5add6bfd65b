// Holds a file open with no sharing, as a running program holds its data,
// until the file named second appears (or a minute passes).
//   hold_probe <file> <release-file>
// Prints "held" once the file is open; exit status 1 if it can't be.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  for (int wait = 0; wait < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++wait)
    Sleep(100);
  CloseHandle(file);
  return 0;
}
