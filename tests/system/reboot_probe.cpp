// Arranges one replacement at the next start of Windows:
//   reboot_probe <new copy> <target>
#include <cstdio>

#include "base/Flags.h"
#include "system/Reboot.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  bool arranged = ReplaceOnReboot(argv[1], argv[2]);
  std::printf("arranged=%d reboot-needed=%d\n", arranged ? 1 : 0, RebootNeeded() ? 1 : 0);
  return arranged ? 0 : 1;
}
