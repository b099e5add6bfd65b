// The console program: joins "/con" and its arguments into one line and runs
// the common start-up.
#include <cstdio>

#include "app/CommandLine.h"
#include "app/Messages.h"
#include "app/Startup.h"
#include "base/Text.h"

int main(int argc, char** argv) {
  std::string line;
  if (!BuildConsoleLine(argc, argv, line)) {
    std::fputs(msg::kLineTooLong, stdout);
    return 1;
  }
  int status = RunStartup(line, ConsoleOperations());
  // It may hold a "/p:" password.
  WipeText(line);
  return status;
}
