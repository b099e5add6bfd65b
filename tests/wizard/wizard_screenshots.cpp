// Photographs every page of the wizard and each small dialog into .bmp
// files for a person to look at:  wizard_screenshots.exe <folder>
// It runs in the start directory of the build (the shipped catalogue) and
// backs up into the temporary folder so that the finish page shows a
// real outcome.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/SystemPaths.h"
#include "catalogue/PathVariables.h"
#include "storage/DiskObject.h"
#include "catalogue/CatalogueEntry.h"
#include "wizard/CustomItem.h"
#include "wizard/Resource.h"
#include "wizard/SmallDialogs.h"
#include "wizard/WizardDialog.h"
#include "wizard/WizardDriver.h"

namespace {

std::string g_folder;

void Pump(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    PumpIdle();
    Sleep(10);
  } while (GetTickCount() - start < ms);
}

// The window as the screen shows it, frame included, as a 24-bit bitmap.
void Photograph(HWND window, const std::string& name) {
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Pump(300);
  RECT r;
  GetWindowRect(window, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
  DWORD size = stride * height;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + size;
  std::string path = g_folder + "\\" + name + ".bmp";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, size, 1, out);
    std::fclose(out);
    std::printf("%s\n", path.c_str());
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
}

// Photographs each small dialog once it is open, then closes it.
class CPhotographer : public CScriptedDialogs {
 public:
  void DialogOpened(CDialog& dialog, int resourceId) override {
    if (resourceId == IDD_WIZARD) return;
    // A modal dialog shows itself only once its loop is idle, which it is
    // not yet.
    ShowWindow(dialog.Handle(), SW_SHOW);
    Photograph(dialog.Handle(), name);
    dialog.PressButton(resourceId == IDD_ABOUT ? IDOK : IDCANCEL);
  }
  std::string name;
};

// Photographs the progress page when the run asks about the file this tool
// holds open, and lets the run go on without it.
class CProgressPhotographer : public CInteraction {
 public:
  int ShowMessageBox(HWND, const std::string& text, const std::string&, UINT) override {
    if (text.find(kHeldName) == std::string::npos || wizard == NULL) return IDYES;
    Photograph(wizard, "page5-progress");
    wizard = NULL;
    return IDIGNORE;
  }
  int ReadKey() override { return -1; }
  void WriteOutput(const std::string&) override {}

  static constexpr const char* kHeldName = "QmScreenshot-held.txt";
  HWND wizard = NULL;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: wizard_screenshots <folder>\n");
    return 2;
  }
  g_folder = argv[1];
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                        ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  if (!OpenSystemOperations()) return 1;
  char current[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, current);
  SetStartDirectory(current);
  CPhotographer photographer;
  // A program of the catalogue that runs, so that its page is shown.
  std::string notepad = "notepad.exe";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION running = {};
  bool started = CreateProcessA(NULL, &notepad[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                                &running) != FALSE;
  if (started) WaitForInputIdle(running.hProcess, 5000);
  // A document that another program holds: the backup asks about it.
  std::string heldPath = CDiskObject::JoinPath(GetSpecialFolder("MyDocuments").value_or(current),
                                               CProgressPhotographer::kHeldName);
  if (FILE* file = std::fopen(heldPath.c_str(), "wb")) std::fclose(file);
  HANDLE held = CreateFileA(heldPath.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  CProgressPhotographer progress;
  CInteraction* previous = SetInteraction(&progress);

  CWizardDialog wizard;
  if (!wizard.Open()) return 1;
  Pump(500);
  Photograph(wizard.Handle(), "page0-welcome");
  wizard.PressButton(IDC_NEXT);
  Photograph(wizard.Handle(), "page1-operation");
  wizard.PressButton(IDC_NEXT);
  std::string set = TemporaryFolder() + "QmScreenshots";
  CDiskObject disk(true);
  disk.RemoveFolderTree(set + "\\");
  wizard.SetItemText(IDC_FOLDER, set);
  wizard.SetChecked(IDC_PROTECT, true);
  wizard.PressButton(IDC_PROTECT);
  Photograph(wizard.Handle(), "page2-folder");
  wizard.SetChecked(IDC_PROTECT, false);
  wizard.PressButton(IDC_PROTECT);
  wizard.PressButton(IDC_NEXT);
  Pump(300);
  if (wizard.Page() == PageRunningPrograms) {
    Photograph(wizard.Handle(), "page3-running-programs");
    wizard.PressButton(IDC_NEXT);
  }
  Photograph(wizard.Handle(), "page4-selection");
  progress.wizard = wizard.Handle();
  wizard.PressButton(IDC_NEXT);
  PumpUntil([&] { return wizard.Page() == PageFinish && !wizard.WorkerRunning(); }, 120000);
  Photograph(wizard.Handle(), "page6-finish");

  photographer.name = "dialog-password";
  CPassword password;
  password.Run(wizard.Handle());
  photographer.name = "dialog-confirm";
  CConfirm confirm;
  confirm.question = "File C:\\users\\someone\\Documents\\notes.txt already exists! Overwrite?";
  confirm.Run(wizard.Handle());
  photographer.name = "dialog-custom-item";
  CatalogueEntry entry;
  entry.name = "Letters";
  entry.items.push_back(";C:\\Letters\\");
  CCustomItem item(entry, false, true);
  item.Run(wizard.Handle());
  photographer.name = "dialog-about";
  CAboutBox about;
  about.Run(wizard.Handle());
  wizard.PressButton(IDC_NEXT);
  disk.RemoveFolderTree(set + "\\");
  SetInteraction(previous);
  CloseHandle(held);
  DeleteFileA(heldPath.c_str());
  if (started) {
    TerminateProcess(running.hProcess, 0);
    CloseHandle(running.hProcess);
    CloseHandle(running.hThread);
  }
  CloseSystemOperations();
  return 0;
}
