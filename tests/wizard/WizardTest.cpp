// The wizard driven in this process as a user would drive it: buttons
// pressed by id, text typed into its edits, its questions and small dialogs
// answered by script, its worker awaited, and the files, registry and
// pages it leaves checked.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/Win32Handle.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "engine/BackupSet.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"
#include "system/Schedule.h"
#include "wizard/Resource.h"
#include "wizard/WizardDialog.h"
#include "wizard/WizardDriver.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmWizardTests";

// Message boxes answered by what their text holds; the first rule that
// matches answers, else the queued answers of the base class do.
class CAnsweredBoxes : public CScriptedInteraction {
 public:
  void When(const std::string& textPart, const std::function<int()>& answer) {
    m_rules.push_back({textPart, answer});
  }
  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                     UINT style) override {
    for (const auto& rule : m_rules) {
      if (text.find(rule.first) == std::string::npos) continue;
      boxes.push_back({owner, text, caption, style});
      return rule.second();
    }
    return CScriptedInteraction::ShowMessageBox(owner, text, caption, style);
  }
  bool Shown(const std::string& textPart) const {
    return std::any_of(boxes.begin(), boxes.end(),
                       [&](const Box& box) { return box.text.find(textPart) != std::string::npos; });
  }

 private:
  std::vector<std::pair<std::string, std::function<int()>>> m_rules;
};

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    installedBefore = RegistryKeyExists(kInstallKey);
    scheduleBefore = RegistryKeyExists(kScheduleKey);
    DeleteKeyTree(kRoot);
    start = temp.Path() + "start\\";
    data = temp.Path() + "notes\\";
    disk.CreateFolderTree(start);
    disk.CreateFolderTree(data + "sub\\");
    WriteWholeFile(data + "a.txt", "first note");
    WriteWholeFile(data + "sub\\b.txt", "second note");
    CreateRegistryKey(kRoot);
    ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Font", "Courier", 0));
    WriteWholeFile(start + "backup.xml",
                   "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n"
                   "<catalogue>\n"
                   "<backup name=\"Notes\" display=\"The notes program\" keyExists=\"" +
                       kRoot + "\">\n"
                       " <item path=\"" + kRoot + "\\\"/>\n"
                       " <item name=\"files\" path=\"" + data + "\"/>\n"
                       "</backup>\n"
                       "</catalogue>\n");
    SetStartDirectory(start);
  }
  void TearDown() override {
    wizard.reset();
    DeleteKeyTree(kRoot);
    if (!installedBefore) DeleteKeyTree(kInstallKey);
    if (!scheduleBefore) DeleteKeyTree(kScheduleKey);
    disk.RemoveFolderTree(NormaliseSetFolder(RollbackFolder()));
    CloseSystemOperations();
    ResetFlags();
  }

  static std::string RollbackFolder() {
    return CDiskObject::JoinPath(GetSpecialFolder("MyDocuments").value_or(""),
                                 "Quillmark\\Rollback\\");
  }

  void Open() {
    wizard = std::make_unique<CWizardDialog>();
    ASSERT_TRUE(wizard->Open());
    PumpIdle();
  }
  void Press(int id) {
    wizard->PressButton(id);
    PumpIdle();
  }
  void Check(int id, bool checked) {
    wizard->SetChecked(id, checked);
    Press(id);
  }
  // From the welcome page to the folder page of an operation.
  void ToFolderPage(int operationButton, const std::string& folder) {
    Press(IDC_NEXT);
    Press(operationButton);
    Press(IDC_NEXT);
    ASSERT_EQ(PageFolder, wizard->Page());
    wizard->SetItemText(IDC_FOLDER, folder);
    PumpIdle();
  }
  // Another program holds one of the notes, so the run asks about it in
  // the middle; the user presses Cancel there, then lets the run go on
  // without the file.
  CHandle HoldFileAndCancelAtItsQuestion() {
    boxes.When("b.txt", [this] {
      wizard->PressButton(IDCANCEL);
      return IDIGNORE;
    });
    return CHandle(CreateFileA((data + "sub\\b.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL));
  }
  void WaitForFinish() {
    ASSERT_TRUE(PumpUntil([&] { return wizard->Page() == PageFinish && !wizard->WorkerRunning(); }))
        << "page " << wizard->Page();
  }
  // A whole backup of the test catalogue into `set`.
  void BackUp(const std::string& set, bool compress, const std::string& password) {
    ToFolderPage(IDC_BUTTON_BACKUP, set);
    Check(IDC_COMPRESS, compress);
    Check(IDC_PROTECT, !password.empty());
    wizard->SetItemText(IDC_PASSWORD, password);
    wizard->SetItemText(IDC_CONFIRM_PASSWORD, password);
    Press(IDC_NEXT);
    ASSERT_EQ(PageSelection, wizard->Page());
    Press(IDC_NEXT);
    WaitForFinish();
  }

  CTemporaryFolder temp;
  CDiskObject disk{true};
  CAnsweredBoxes boxes;
  CScriptedDialogs dialogs;
  std::unique_ptr<CWizardDialog> wizard;
  std::string start, data;
  bool installedBefore = false, scheduleBefore = false;
};

TEST_F(Wizard, PagesFollowTheButtons) {
  Open();
  EXPECT_EQ(PageWelcome, wizard->Page());
  EXPECT_FALSE(wizard->IsItemEnabled(IDC_BACK));
  EXPECT_EQ("Tervane - Quillmark", [&] {
    char caption[64] = "";
    GetWindowTextA(wizard->Handle(), caption, sizeof caption);
    return std::string(caption);
  }());
  // The system menu's about box.
  char item[64] = "";
  GetMenuStringA(GetSystemMenu(wizard->Handle(), FALSE), IDM_ABOUT, item, sizeof item, MF_BYCOMMAND);
  EXPECT_EQ("About Quillmark", std::string(item));
  std::string aboutCaption, versionLine;
  dialogs.Queue(IDD_ABOUT, [&](CDialog& about) {
    aboutCaption = WindowText(about.Handle());
    versionLine = about.ItemText(IDC_VERSION_LINE);
    about.PressButton(IDOK);
  });
  SendMessageA(wizard->Handle(), WM_SYSCOMMAND, IDM_ABOUT, 0);
  EXPECT_EQ("About Quillmark", aboutCaption);
  EXPECT_EQ("Quillmark v1.04", versionLine);

  Press(IDC_NEXT);
  EXPECT_EQ(PageOperation, wizard->Page());

  // Pressing the operation that is down keeps its folder; another
  // operation and back gives a new one.
  std::string folder = wizard->ItemText(IDC_FOLDER);
  EXPECT_NE(std::string::npos, folder.find("Quillmark\\Backup-")) << folder;
  Press(IDC_BUTTON_BACKUP);
  EXPECT_EQ(folder, wizard->ItemText(IDC_FOLDER));
  Press(IDC_BUTTON_RESTORE);
  EXPECT_EQ(WizardOperation::Restore, wizard->Operation());
  EXPECT_EQ(LoadResourceString(IDS_RESTORE_DESCRIPTION), wizard->ItemText(IDC_DESCRIPTION));
  Press(IDC_BUTTON_BACKUP);
  EXPECT_NE(std::string::npos, wizard->ItemText(IDC_FOLDER).find("Quillmark\\Backup-"));

  Press(IDC_NEXT);
  ASSERT_EQ(PageFolder, wizard->Page());
  EXPECT_TRUE(wizard->IsItemVisible(IDC_COMPRESS));
  EXPECT_FALSE(wizard->IsItemVisible(IDC_ROLLBACK));
  wizard->SetItemText(IDC_FOLDER, "C:");
  PumpIdle();
  EXPECT_FALSE(wizard->IsItemEnabled(IDC_NEXT));
  wizard->SetItemText(IDC_FOLDER, temp.Path() + "set");
  PumpIdle();
  ASSERT_TRUE(wizard->IsItemEnabled(IDC_NEXT));

  // No program of the catalogue runs: the running programs page is skipped
  // on the way there, and Back goes straight to the folder.
  Press(IDC_NEXT);
  EXPECT_EQ(PageSelection, wizard->Page());
  Press(IDC_BACK);
  EXPECT_EQ(PageFolder, wizard->Page());

  Press(IDCANCEL);
  EXPECT_EQ(PageFinish, wizard->Page());
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Backup operation canceled!"));
  EXPECT_FALSE(wizard->IsItemEnabled(IDCANCEL));
  EXPECT_EQ("Finish", wizard->ItemText(IDC_NEXT));
  Press(IDC_NEXT);
  EXPECT_EQ(NULL, wizard->Handle());
  EXPECT_EQ(IDOK, wizard->Result());
  EXPECT_FALSE(IsFolder(temp.Path() + "set"));
}

TEST_F(Wizard, FolderPageRefusesBadPasswordsAndAsksAboutAnExistingFolder) {
  Open();
  std::string set = temp.Path() + "existing\\";
  disk.CreateFolderTree(set);
  ToFolderPage(IDC_BUTTON_BACKUP, set);
  Check(IDC_COMPRESS, true);
  Check(IDC_PROTECT, true);
  EXPECT_TRUE(wizard->IsItemEnabled(IDC_PASSWORD));

  auto tryPasswords = [&](const std::string& password, const std::string& confirmation) {
    wizard->SetItemText(IDC_PASSWORD, password);
    wizard->SetItemText(IDC_CONFIRM_PASSWORD, confirmation);
    boxes.boxes.clear();
    Press(IDC_NEXT);
  };
  tryPasswords("secret7", "secret8");
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ(LoadResourceString(IDS_PASSWORDS_DIFFER), boxes.boxes[0].text);
  EXPECT_EQ(PageFolder, wizard->Page());
  tryPasswords("", "");
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("\"Error: password is empty!\"", boxes.boxes[0].text);
  boxes.QueueBoxAnswer(IDNO);
  tryPasswords("abc", "abc");
  EXPECT_EQ(LoadResourceString(IDS_SHORT_PASSWORD), boxes.boxes.at(0).text);
  EXPECT_EQ(PageFolder, wizard->Page());

  // A short password accepted, then the existing folder refused and
  // accepted.
  boxes.QueueBoxAnswer(IDYES);
  boxes.QueueBoxAnswer(IDNO);
  tryPasswords("abc", "abc");
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(LoadResourceString(IDS_FOLDER_EXISTS), boxes.boxes[1].text);
  EXPECT_EQ(PageFolder, wizard->Page());
  boxes.QueueBoxAnswer(IDYES);
  boxes.QueueBoxAnswer(IDYES);
  tryPasswords("abc", "abc");
  EXPECT_EQ(PageSelection, wizard->Page());
}

TEST_F(Wizard, PackedBackupWithPasswordRestoresAskingThePasswordOnce) {
  std::string set = temp.Path() + "set\\";
  Open();
  BackUp(set, true, "secret7");
  ASSERT_FALSE(wizard->Cancelled()) << wizard->OutcomeText();
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Backup operation successfull!"));
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find(set.substr(0, 20)));
  EXPECT_TRUE(FileExists(set + "restore.zip"));
  EXPECT_FALSE(FileExists(set + "restore.xml"));
  EXPECT_FALSE(IsFolder(set + "Registry"));
  {
    // Encrypted: no entry opens without the password.
    ArchiveReader reader;
    ASSERT_TRUE(reader.Open(set + "restore.zip", true));
    EXPECT_FALSE(reader.UnpackFile("restore.xml", temp.Path() + "peek.xml"));
  }
  Press(IDC_NEXT);
  EXPECT_EQ(NULL, wizard->Handle());

  // The user changes things, then puts the set back.
  WriteWholeFile(data + "a.txt", "changed note");
  ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Font", "Arial", 0));
  dialogs.QueuePassword("wrong");
  dialogs.QueuePassword("secret7");
  dialogs.Queue(IDD_CONFIRM, [](CDialog& confirm) { confirm.PressButton(IDC_YES_TO_ALL); });
  Open();
  // A set inside the rollback folder can't roll back into itself.
  ToFolderPage(IDC_BUTTON_RESTORE, RollbackFolder() + "older");
  EXPECT_TRUE(wizard->IsItemVisible(IDC_ROLLBACK));
  EXPECT_FALSE(wizard->IsItemEnabled(IDC_ROLLBACK));
  wizard->SetItemText(IDC_FOLDER, set);
  PumpIdle();
  EXPECT_TRUE(wizard->IsItemEnabled(IDC_ROLLBACK));
  Press(IDC_NEXT);
  ASSERT_EQ(PageSelection, wizard->Page());
  EXPECT_EQ(2, dialogs.opened[IDD_PASSWORD]);  // the wrong one, then the right one
  Press(IDC_NEXT);
  WaitForFinish();
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Restore operation successfull!"))
      << wizard->OutcomeText();
  EXPECT_EQ(2, dialogs.opened[IDD_PASSWORD]) << "the restore asked again";
  EXPECT_EQ("first note", ReadWholeFile(data + "a.txt"));
  EXPECT_EQ("second note", ReadWholeFile(data + "sub\\b.txt"));
  EXPECT_EQ("Courier", ReadRegistryValue(kRoot + "\\Font").value_or(""));

  // The rollback set holds what the restore overwrote, and restores.
  ArchiveReader rollback;
  ASSERT_TRUE(rollback.Open(RollbackFolder() + "restore.zip", true));
  EXPECT_TRUE(rollback.HasFile("restore.xml", false));
  EXPECT_TRUE(rollback.HasFile("Registry\\Notes.xml", true));
  rollback.Close();

  // Settings that need a restart: the user is asked, and No just closes.
  SetRebootNeeded(true);
  boxes.When(LoadResourceString(IDS_RESTART), [] { return IDNO; });
  Press(IDC_NEXT);
  EXPECT_TRUE(boxes.Shown(LoadResourceString(IDS_RESTART)));
  EXPECT_EQ(NULL, wizard->Handle());
}

TEST_F(Wizard, CancelDuringBackupRemovesOnlyWhatTheRunWrote) {
  std::string set = temp.Path() + "existing\\";
  disk.CreateFolderTree(set);
  WriteWholeFile(set + "mine.txt", "the user's own file");
  CHandle held = HoldFileAndCancelAtItsQuestion();
  ASSERT_TRUE(held.Valid());
  boxes.When(LoadResourceString(IDS_FOLDER_EXISTS), [] { return IDYES; });
  boxes.When(LoadResourceString(IDS_CANCEL_BACKUP), [] { return IDYES; });
  Open();
  BackUp(set, false, "");
  held.Reset();
  EXPECT_TRUE(boxes.Shown(LoadResourceString(IDS_CANCEL_BACKUP)));
  EXPECT_TRUE(wizard->Cancelled());
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Backup operation canceled!"));
  EXPECT_EQ(std::vector<std::string>{"mine.txt"}, NamesIn(set));
  EXPECT_EQ("the user's own file", ReadWholeFile(set + "mine.txt"));
}

TEST_F(Wizard, CancelAnsweredNoLetsTheRunFinish) {
  std::string set = temp.Path() + "set\\";
  CHandle held = HoldFileAndCancelAtItsQuestion();
  ASSERT_TRUE(held.Valid());
  boxes.When(LoadResourceString(IDS_CANCEL_BACKUP), [] { return IDNO; });
  Open();
  BackUp(set, false, "");
  held.Reset();
  EXPECT_TRUE(boxes.Shown(LoadResourceString(IDS_CANCEL_BACKUP)));
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Backup operation successfull!"));
  EXPECT_EQ("first note", ReadWholeFile(set + "Notes\\files\\a.txt"));
  EXPECT_FALSE(FileExists(set + "Notes\\files\\sub\\b.txt"));
}

TEST_F(Wizard, CancelDuringTheRollbackRestoresNothing) {
  std::string set = temp.Path() + "set\\";
  Open();
  BackUp(set, false, "");
  Press(IDC_NEXT);
  WriteWholeFile(data + "a.txt", "changed note");
  CHandle held = HoldFileAndCancelAtItsQuestion();
  ASSERT_TRUE(held.Valid());
  boxes.When(LoadResourceString(IDS_CANCEL_RESTORE), [] { return IDYES; });
  Open();
  ToFolderPage(IDC_BUTTON_RESTORE, set);
  Press(IDC_NEXT);
  ASSERT_EQ(PageSelection, wizard->Page());
  Press(IDC_NEXT);
  WaitForFinish();
  held.Reset();
  EXPECT_TRUE(boxes.Shown(LoadResourceString(IDS_CANCEL_RESTORE)));
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Restore operation canceled!"));
  EXPECT_EQ("changed note", ReadWholeFile(data + "a.txt"));
}

TEST_F(Wizard, ScheduleCreatesTheTaskAndItsSettings) {
  std::string folder = temp.Path() + "daily";
  std::optional<std::string> logon = LogonName();
  std::string task = ScheduledTaskName(logon);
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, MAX_PATH);
  std::string job = std::string(windows) + "\\Tasks\\" + task + ".job";
  DeleteFileA(job.c_str());
  if (logon) dialogs.QueuePassword("");
  if (logon) dialogs.QueuePassword("");
  // The first time the user asks for the task's properties, which this
  // system can't show; the second time not.
  int editAnswers[] = {IDYES, IDNO};
  int asked = 0;
  boxes.When("successfully scheduled", [&] { return editAnswers[asked++ % 2]; });

  Open();
  ToFolderPage(IDC_BUTTON_SCHEDULE, folder);
  EXPECT_TRUE(ScheduleMode());
  EXPECT_TRUE(wizard->IsItemVisible(IDC_CLOSE_PROGRAMS));
  Check(IDC_COMPRESS, true);
  wizard->SendItemMessage(IDC_METHOD, CB_SETCURSEL, 2);  // "Best Speed"
  Check(IDC_PROTECT, false);
  Press(IDC_NEXT);
  ASSERT_EQ(PageSelection, wizard->Page());  // no running programs page
  Press(IDC_NEXT);
  if (boxes.Shown(LoadResourceString(IDS_TASK_NOT_EDITED))) {
    EXPECT_EQ(PageSelection, wizard->Page());
    EXPECT_TRUE(FileExists(job)) << "the task stays when its properties can't be shown";
    Press(IDC_NEXT);
  }
  ASSERT_EQ(PageFinish, wizard->Page()) << (boxes.boxes.empty() ? "" : boxes.boxes.back().text);
  EXPECT_NE(std::string::npos, wizard->OutcomeText().find("Schedule operation successfull!"));

  EXPECT_TRUE(FileExists(job)) << job;
  ScheduleSettings settings = ReadScheduleSettings();
  EXPECT_EQ(folder, settings.backupPath);
  EXPECT_TRUE(settings.compress);
  EXPECT_EQ(1, settings.level);
  EXPECT_EQ("", settings.password);
  EXPECT_EQ("", ReadRegistryValue(std::string(kScheduleKey) + "\\Encrypt").value_or("missing"));
  DeleteFileA(job.c_str());
}

TEST_F(Wizard, HelpOpensTheOldHelpFileWhenItIsThere) {
  EXPECT_EQ(start + "Quillmark.chm", HelpFilePath());
  WriteWholeFile(start + "Quillmark.hlp", "");
  EXPECT_EQ(start + "Quillmark.hlp", HelpFilePath());
}

TEST(WizardFolderText, BreaksLongFoldersNearEvery44thCharacter) {
  std::string short80(80, 'x');
  EXPECT_EQ(short80, BreakFolderText(short80));
  // Without a blank or backslash near, the break comes 15 characters on.
  std::string plain(100, 'x');
  EXPECT_EQ(std::string(56, 'x') + "<BR>" + std::string(44, 'x'), BreakFolderText(plain));
  // A blank within reach takes the break after it.
  EXPECT_EQ(
      "C:\\Documents and Settings\\someone\\My Documents\\Quillmark\\Scheduled "
      "<BR>Backups\\Backup-20261208-101010",
      BreakFolderText("C:\\Documents and Settings\\someone\\My Documents\\Quillmark\\Scheduled "
                      "Backups\\Backup-20261208-101010"));
}

}  // namespace

namespace {

struct WindowOfProcess {
  DWORD processId;
  HWND window;
};

// The help viewer's window, once it shows the program's help.
BOOL CALLBACK FindHelpWindow(HWND window, LPARAM parameter) {
  char type[64] = "", caption[64] = "";
  GetClassNameA(window, type, sizeof type);
  GetWindowTextA(window, caption, sizeof caption);
  if (!IsWindowVisible(window) || std::string(type) != "HH Parent" ||
      std::string(caption) != "Quillmark Help")
    return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

BOOL CALLBACK FindWizardWindow(HWND window, LPARAM parameter) {
  WindowOfProcess& wanted = *reinterpret_cast<WindowOfProcess*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char caption[64] = "";
  GetWindowTextA(window, caption, sizeof caption);
  if (owner != wanted.processId || std::string(caption) != "Tervane - Quillmark") return TRUE;
  wanted.window = window;
  return FALSE;
}

std::string RemoteWindowText(HWND window) {
  char text[512] = "";
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, NULL);
  return text;
}

// Waits for `done`, looking every 50 ms.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 30000) {
  for (DWORD waited = 0; !done(); waited += 50) {
    if (waited > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

}  // namespace

// The real program, started as a user starts it and driven from this
// process by control ids, as clicks would.
TEST_F(Wizard, TheProgramBacksUpWhenDrivenFromOutside) {
  CreateRegistryKey(kInstallKey);
  ASSERT_TRUE(CopyFileA((ProgramFolder() + "Quillmark.chm").c_str(),
                        (start + "Quillmark.chm").c_str(), FALSE));
  std::string set = temp.Path() + "outside";
  std::string command = "\"" + ProgramFolder() + "backup.exe\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, start.c_str(),
                             &startup, &process));
  CloseHandle(process.hThread);
  WindowOfProcess found = {process.dwProcessId, NULL};
  ASSERT_TRUE(WaitFor([&] {
    EnumWindows(FindWizardWindow, reinterpret_cast<LPARAM>(&found));
    return found.window != NULL;
  }));
  HWND window = found.window;
  auto press = [&](int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
  };
  auto heading = [&] { return RemoteWindowText(GetDlgItem(window, IDC_HEADING)); };

  // Help shows the help file of the start directory.
  press(IDC_HELP_BUTTON);
  HWND help = NULL;
  EXPECT_TRUE(WaitFor([&] {
    EnumWindows(FindHelpWindow, reinterpret_cast<LPARAM>(&help));
    return help != NULL;
  }));
  if (help != NULL) PostMessageA(help, WM_CLOSE, 0, 0);

  press(IDC_NEXT);
  ASSERT_TRUE(WaitFor([&] { return heading() == LoadResourceString(IDS_SELECT_OPERATION); }));
  press(IDC_NEXT);
  ASSERT_TRUE(WaitFor([&] { return heading() == LoadResourceString(IDS_BACKUP_FOLDER); }));
  SendMessageA(GetDlgItem(window, IDC_FOLDER), WM_SETTEXT, 0, (LPARAM)set.c_str());
  SendMessageA(GetDlgItem(window, IDC_COMPRESS), BM_SETCHECK, BST_UNCHECKED, 0);
  press(IDC_COMPRESS);
  press(IDC_NEXT);
  ASSERT_TRUE(WaitFor([&] { return heading() == LoadResourceString(IDS_BACKUP_SELECTION); }));
  press(IDC_NEXT);
  HWND next = GetDlgItem(window, IDC_NEXT);
  ASSERT_TRUE(WaitFor([&] { return RemoteWindowText(next) == "Finish"; }));
  EXPECT_NE(std::string::npos,
            RemoteWindowText(GetDlgItem(window, IDC_TEXT_AREA)).find("Backup operation successfull!"));
  press(IDC_NEXT);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 30000));
  DWORD status = 99;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  EXPECT_EQ(0u, status);

  EXPECT_TRUE(FileExists(set + "\\restore.xml"));
  EXPECT_TRUE(FileExists(set + "\\Registry\\Notes.xml"));
  EXPECT_EQ("first note", ReadWholeFile(set + "\\Notes\\files\\a.txt"));
  EXPECT_EQ("second note", ReadWholeFile(set + "\\Notes\\files\\sub\\b.txt"));
}
