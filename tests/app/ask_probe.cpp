// Asks one console question with the real keyboard or standard input and
// prints the answer, so tests can answer through a terminal or a pipe.
//   ask_probe yesno|okcancel|ari|notice|overwrite [yes-to-all]
#include <cstdio>
#include <cstring>
#include <string>

#include "base/Flags.h"
#include "base/Interaction.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  SetWizardMode(false);
  if (argc > 2 && std::strcmp(argv[2], "yes-to-all") == 0) SetYesToAll(true);
  std::string kind = argv[1];
  if (kind == "overwrite") {
    OverwriteAnswer answer = OverwriteNo;
    bool go = AskOverwrite("C:\\data\\settings.ini", answer);
    std::printf("result=%d answer=%d\n", go ? 1 : 0, static_cast<int>(answer));
    return 0;
  }
  UINT style = kind == "yesno" ? MB_YESNO
               : kind == "okcancel" ? MB_OKCANCEL
               : kind == "ari"      ? MB_ABORTRETRYIGNORE
                                    : MB_OK;
  int answer = Ask(NULL, "Question?", "Quillmark", style);
  std::printf("answer=%d\n", answer);
  return 0;
}
