#include "wizard/WizardDialog.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/LocaleText.h"
#include "base/Settings.h"
#include "base/TempFile.h"
#include "base/Text.h"
#include "catalogue/PathVariables.h"
#include "engine/BackupSet.h"
#include "engine/Engine.h"
#include "system/Reboot.h"
#include "system/RunningPrograms.h"
#include "system/Schedule.h"
#include "wizard/FolderDialog.h"
#include "wizard/Resource.h"
#include "wizard/RichText.h"
#include "wizard/SmallDialogs.h"

namespace {

const char kWizardCaption[] = "Tervane - Quillmark";
const char kAboutItem[] = "About Quillmark";
const char kCatalogueFile[] = "backup.xml";
const char kInvalidRestoreFolder[] = "Error: invalid restore directory!";
const char kInvalidRestoreFile[] = "Error: invalid restore file!";
const char kRestoreSettings[] = "Error: couldn't process restore settings!";
const char kCreateFolder[] = "Fatal error: failed to create directory!\n";
const char kCreateArchive[] = "Fatal error: couldn't create backup archive!\n";
const char kOpenArchive[] = "Fatal error: couldn't open restore archive!";
const char kUnpackRegistry[] = "Fatal error: couldn't uncompress registry settings!";
const char kNoWorkingFolder[] = "Error: couldn't create a working folder in the temporary folder!";
const char kSelectFolder[] = "Select folder";
const char* const kMethods[] = {"Default", "Best Compression", "Best Speed", "Store"};
const UINT_PTR kProgressTimer = 1;

// Every control that belongs to a page; the header, the heading and the
// navigation buttons belong to all of them.
const int kPageControls[] = {
    IDC_TEXT_AREA, IDC_BUTTON_BACKUP, IDC_BUTTON_RESTORE, IDC_BUTTON_SCHEDULE,
    IDC_DESCRIPTION_GROUP, IDC_DESCRIPTION, IDC_BROWSE, IDC_FOLDER, IDC_COMPRESS,
    IDC_PROTECT, IDC_METHOD_LABEL, IDC_PASSWORD_LABEL, IDC_CONFIRM_LABEL, IDC_PASSWORD,
    IDC_CONFIRM_PASSWORD, IDC_METHOD, IDC_CLOSE_PROGRAMS, IDC_ROLLBACK, IDC_RUNNING_LIST,
    IDC_TREE, IDC_ITEM_TEXT, IDC_PROGRESS, IDC_CURRENT_ENTRY, IDC_CURRENT_FILE};

std::string DocumentsFolder() { return GetSpecialFolder("MyDocuments").value_or(""); }

std::string OperationFolder(WizardOperation operation) {
  switch (operation) {
    case WizardOperation::Backup:
      return CDiskObject::JoinPath(DocumentsFolder(),
                                   "Quillmark\\Backup-" + FormatTimestamp("YMD-Hms"));
    case WizardOperation::Restore:
      return CDiskObject::JoinPath(DocumentsFolder(), "\\Quillmark\\");
    case WizardOperation::Schedule:
      return DefaultScheduleFolder();
    default:
      return std::string();
  }
}

UINT DescriptionOf(WizardOperation operation) {
  switch (operation) {
    case WizardOperation::Restore:
      return IDS_RESTORE_DESCRIPTION;
    case WizardOperation::Schedule:
      return IDS_SCHEDULE_DESCRIPTION;
    default:
      return IDS_BACKUP_DESCRIPTION;
  }
}

int ButtonOf(WizardOperation operation) {
  switch (operation) {
    case WizardOperation::Restore:
      return IDC_BUTTON_RESTORE;
    case WizardOperation::Schedule:
      return IDC_BUTTON_SCHEDULE;
    default:
      return IDC_BUTTON_BACKUP;
  }
}

void ShowError(HWND owner, const std::string& text) {
  Ask(owner, text, kCaption, MB_OK | MB_ICONSTOP);
}

bool AskYesNo(HWND owner, const std::string& text) {
  return Ask(owner, text, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// The same entries, each its own copy: a run rewrites the items it works
// on, and the restore after the rollback needs them as they were.
void CopyEntries(const Catalogue& from, Catalogue& to) {
  std::map<const CatalogueEntry*, CatalogueEntry*> copies;
  for (const auto& entry : from.Entries()) {
    auto copy = std::make_unique<CatalogueEntry>(*entry);
    auto parent = copies.find(entry->parent);
    copy->parent = parent != copies.end() ? parent->second : nullptr;
    copies[entry.get()] = &to.AppendEntry(std::move(copy));
  }
}

}  // namespace

std::string BreakFolderText(const std::string& folder) {
  std::string text = folder;
  std::size_t i = 40;
  while (i + 40 < text.size()) {
    std::size_t f = text.find(' ', i);
    if (f == std::string::npos || f > i + 30) f = text.find('\\', i);
    if (f == std::string::npos || f > i + 30) f = i + 15;
    text.insert(f + 1, "<BR>");
    i = f + 44;
  }
  return text;
}

std::string HelpFilePath() {
  std::string old = CDiskObject::JoinPath(StartDirectory(), "Quillmark.hlp");
  if (GetFileAttributesA(old.c_str()) != INVALID_FILE_ATTRIBUTES) return old;
  return CDiskObject::JoinPath(StartDirectory(), "Quillmark.chm");
}

CWizardDialog::CWizardDialog() : m_tree(*this), m_disk(true, &m_run) {
  m_disk.SetStopRequest(m_run.Stop());
}

CWizardDialog::~CWizardDialog() {
  // The wizard can't close while its worker runs; should it be torn down
  // anyway, the run is stopped and its questions still answered.
  if (m_worker.Valid()) {
    m_run.Stop().Request();
    while (MsgWaitForMultipleObjects(1, (HANDLE*)&m_worker, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
  }
  ForgetPackedSet();
}

bool CWizardDialog::Open(HWND parent) { return Create(IDD_WIZARD, parent); }

INT_PTR CWizardDialog::RunModal() {
  if (!Open(NULL)) return -1;
  MSG message;
  while (Handle() != NULL && GetMessageA(&message, NULL, 0, 0) > 0) {
    if (Handle() != NULL && IsDialogMessageA(Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return Result();
}

bool CWizardDialog::OnInit() {
  m_run.SetWindow(m_window);
  m_disk.SetRunCallback(&m_run);

  HMENU system = GetSystemMenu(m_window, FALSE);
  AppendMenuA(system, MF_SEPARATOR, 0, NULL);
  AppendMenuA(system, MF_STRING, IDM_ABOUT, kAboutItem);
  HICON icon = LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDI_PROGRAM));
  SendMessageA(m_window, WM_SETICON, ICON_BIG, (LPARAM)icon);
  SendMessageA(m_window, WM_SETICON, ICON_SMALL, (LPARAM)icon);
  // The headers span the dialog, whatever size its font makes it.
  RECT client;
  GetClientRect(m_window, &client);
  RECT band = {0, 0, 337, 36};
  MapDialogRect(m_window, &band);
  for (int page = 0; page < 7; ++page)
    m_headers[page].Reset((HBITMAP)LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDB_HEADER_FIRST + page),
                                          IMAGE_BITMAP, client.right, band.bottom, 0));
  AttachRichText(Item(IDC_TEXT_AREA));
  m_tips.Create(m_window);

  for (const char* method : kMethods) SendItemMessage(IDC_METHOD, CB_ADDSTRING, 0, (LPARAM)method);
  SendItemMessage(IDC_METHOD, CB_SETCURSEL, 0);
  SendItemMessage(IDC_FOLDER, EM_LIMITTEXT, MAX_PATH - 1);
  SetChecked(IDC_RADIO_BACKUP, true);
  SetChecked(IDC_CLOSE_PROGRAMS, true);
  SetChecked(IDC_COMPRESS, true);
  SetChecked(IDC_ROLLBACK, true);

  ChooseOperation(WizardOperation::Backup);
  CompressClicked();
  ShowPage(PageWelcome);
  SetWindowTextA(m_window, kWizardCaption);
  return true;
}

void CWizardDialog::ChooseOperation(WizardOperation operation) {
  if (operation == m_operation) return;
  m_operation = operation;
  m_tree.SetOperation(operation);
  for (WizardOperation other :
       {WizardOperation::Backup, WizardOperation::Restore, WizardOperation::Schedule}) {
    int button = ButtonOf(other);
    if (other == operation)
      m_tips.ClearTip(button);
    else
      m_tips.SetTip(button, LoadResourceString(DescriptionOf(other)));
    InvalidateRect(Item(button), NULL, TRUE);
  }
  SetChecked(IDC_RADIO_BACKUP, operation == WizardOperation::Backup);
  SetChecked(IDC_RADIO_RESTORE, operation == WizardOperation::Restore);
  SetChecked(IDC_RADIO_SCHEDULE, operation == WizardOperation::Schedule);
  SetItemText(IDC_DESCRIPTION, LoadResourceString(DescriptionOf(operation)));
  SetItemText(IDC_FOLDER, OperationFolder(operation));
  SetScheduleMode(operation == WizardOperation::Schedule);
}

void CWizardDialog::SetHeader(WizardPage page) {
  SendItemMessage(IDC_HEADER_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)m_headers[page].Get());
  UINT heading = 0;
  bool restore = m_operation == WizardOperation::Restore;
  switch (page) {
    case PageOperation:
      heading = IDS_SELECT_OPERATION;
      break;
    case PageFolder:
      heading = restore ? IDS_RESTORE_FOLDER : IDS_BACKUP_FOLDER;
      break;
    case PageRunningPrograms:
      heading = IDS_PROGRAMS_RUNNING;
      break;
    case PageSelection:
      heading = restore ? IDS_RESTORE_SELECTION : IDS_BACKUP_SELECTION;
      break;
    case PageProgress:
      heading = restore ? IDS_RESTORE_PROGRESS : IDS_BACKUP_PROGRESS;
      break;
    default:
      break;
  }
  SetItemText(IDC_HEADING, heading != 0 ? LoadResourceString(heading) : std::string());
  ShowItem(IDC_HEADING, heading != 0);
}

void CWizardDialog::ShowPageControls(WizardPage page) {
  bool restore = m_operation == WizardOperation::Restore;
  bool schedule = m_operation == WizardOperation::Schedule;
  std::vector<int> shown;
  switch (page) {
    case PageWelcome:
    case PageFinish:
      shown = {IDC_TEXT_AREA};
      break;
    case PageOperation:
      shown = {IDC_BUTTON_BACKUP, IDC_BUTTON_RESTORE, IDC_BUTTON_SCHEDULE,
               IDC_DESCRIPTION_GROUP, IDC_DESCRIPTION};
      break;
    case PageFolder:
      shown = {IDC_BROWSE, IDC_FOLDER};
      if (restore) {
        shown.insert(shown.end(), {IDC_ROLLBACK, IDC_DESCRIPTION});
      } else {
        shown.insert(shown.end(), {IDC_COMPRESS, IDC_PROTECT, IDC_METHOD_LABEL, IDC_PASSWORD_LABEL,
                                   IDC_CONFIRM_LABEL, IDC_PASSWORD, IDC_CONFIRM_PASSWORD,
                                   IDC_METHOD});
        if (schedule) shown.push_back(IDC_CLOSE_PROGRAMS);
      }
      break;
    case PageRunningPrograms:
      shown = {IDC_RUNNING_LIST};
      break;
    case PageSelection:
      shown = {IDC_TREE, IDC_ITEM_TEXT};
      break;
    case PageProgress:
      shown = {IDC_PROGRESS, IDC_CURRENT_ENTRY, IDC_CURRENT_FILE};
      break;
  }
  SetItemText(IDC_DESCRIPTION, LoadResourceString(page == PageFolder && restore
                                                      ? IDS_PRESS_BROWSE
                                                      : DescriptionOf(m_operation)));
  for (int id : kPageControls) {
    bool show = false;
    for (int wanted : shown) show = show || wanted == id;
    ShowItem(id, show);
  }
}

void CWizardDialog::SetDefaultButton(int id) {
  SendMessageA(m_window, DM_SETDEFID, id, 0);
  SetFocus(Item(id));
}

void CWizardDialog::ShowPage(WizardPage page) {
  m_page = page;
  SetHeader(page);
  ShowPageControls(page);
  EnableItem(IDC_BACK, page >= PageOperation && page <= PageSelection);
  EnableItem(IDCANCEL, page != PageFinish);
  SetItemText(IDC_NEXT, page == PageFinish ? "Finish" : "Next");
  EnableItem(IDC_NEXT, page != PageProgress);

  switch (page) {
    case PageWelcome:
      SetRichText(Item(IDC_TEXT_AREA), LoadResourceString(IDS_WELCOME));
      SetDefaultButton(IDC_NEXT);
      break;
    case PageOperation:
      SetDefaultButton(IDC_NEXT);
      break;
    case PageFolder:
      FolderChanged();
      SendItemMessage(IDC_FOLDER, EM_SETSEL, 0, -1);
      SendItemMessage(IDC_FOLDER, EM_SCROLLCARET);
      SetDefaultButton(IDC_NEXT);
      SetFocus(Item(IDC_FOLDER));
      break;
    case PageRunningPrograms:
      SendItemMessage(IDC_RUNNING_LIST, LB_RESETCONTENT);
      if (m_operation != WizardOperation::Schedule)
        FillRunningProgramsList(m_catalogue, Item(IDC_RUNNING_LIST));
      if (SendItemMessage(IDC_RUNNING_LIST, LB_GETCOUNT) <= 0) {
        ShowPage(PageSelection);
        return;
      }
      SetDefaultButton(IDC_NEXT);
      break;
    case PageSelection:
      SetDefaultButton(IDC_NEXT);
      SetFocus(Item(IDC_TREE));
      break;
    case PageProgress:
      SetDefaultButton(IDCANCEL);
      m_cancelled = false;
      m_run.Stop().Clear();
      StartWorker();
      break;
    case PageFinish:
      m_outcome = OutcomeFor() + LoadResourceString(IDS_FINISH_TEXT);
      SetRichText(Item(IDC_TEXT_AREA), m_outcome);
      SetDefaultButton(IDC_NEXT);
      if (!m_cancelled && m_operation != WizardOperation::Restore) m_tree.SaveChoices();
      break;
  }
  InvalidateRect(m_window, NULL, TRUE);
}

std::string CWizardDialog::OutcomeFor() const {
  const char* done = m_cancelled ? "canceled!" : "successfull!";
  std::string head = "<CENTER><FONT size=14pt color=darkblue face=Arial><b>";
  switch (m_operation) {
    case WizardOperation::Backup:
      if (m_cancelled) return head + "Backup operation canceled!</b></FONT></CENTER>";
      return head +
             "Backup operation successfull!<BR><BR>Settings saved in <BR><BR></FONT><FONT "
             "size=12pt color=black>" +
             BreakFolderText(ItemText(IDC_FOLDER)) + "</b></FONT></CENTER>";
    case WizardOperation::Restore:
      return head + "Restore operation " + done + "<BR></b></FONT></CENTER>";
    default:
      return head + "Schedule operation " + done + "<BR></b></FONT></CENTER>";
  }
}

bool CWizardDialog::OnCommand(int code, int id, HWND control) {
  switch (id) {
    case IDC_NEXT:
      if (code == BN_CLICKED) Next();
      return true;
    case IDC_BACK:
      if (code == BN_CLICKED) Back();
      return true;
    case IDCANCEL:
      CancelPressed(false);
      return true;
    case IDC_HELP_BUTTON:
      OpenHelp();
      return true;
    case IDC_BUTTON_BACKUP:
    case IDC_RADIO_BACKUP:
      ChooseOperation(WizardOperation::Backup);
      return true;
    case IDC_BUTTON_RESTORE:
    case IDC_RADIO_RESTORE:
      ChooseOperation(WizardOperation::Restore);
      return true;
    case IDC_BUTTON_SCHEDULE:
    case IDC_RADIO_SCHEDULE:
      ChooseOperation(WizardOperation::Schedule);
      return true;
    case IDC_FOLDER:
      if (code == EN_CHANGE) FolderChanged();
      return true;
    case IDC_BROWSE:
      Browse();
      return true;
    case IDC_COMPRESS:
      CompressClicked();
      return true;
    case IDC_PROTECT:
      ProtectClicked();
      return true;
    case IDC_WORKER_DONE:
      WorkerDone();
      return true;
    default:
      return m_tree.OnCommand(id);
  }
}

bool CWizardDialog::OnNotify(int id, NMHDR& header, LRESULT& result) {
  if (id == IDC_TREE) return m_tree.OnNotify(header, result);
  return false;
}

bool CWizardDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case kRunOnWindowThread:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      result = TRUE;
      return true;
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      result = TRUE;
      return true;
    case WM_TIMER:
      if (wParam == kProgressTimer) RefreshProgress();
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUT) return false;
      {
        CAboutBox about;
        about.Run(m_window);
      }
      result = TRUE;
      return true;
    case WM_CLOSE:
      CancelPressed(true);
      result = TRUE;
      return true;
    case WM_SETCURSOR:
      if (!m_waitCursor) return false;
      SetCursor(LoadCursor(NULL, IDC_WAIT));
      SetWindowLongPtrA(m_window, DWLP_MSGRESULT, TRUE);
      result = TRUE;
      return true;
    default:
      return false;
  }
}

void CWizardDialog::DrawButton(const DRAWITEMSTRUCT& item) {
  int icon = 0;
  bool down = false;
  switch (item.CtlID) {
    case IDC_BACK: icon = IDI_BACK; break;
    case IDC_NEXT: icon = IDI_NEXT; break;
    case IDCANCEL: icon = IDI_CANCEL; break;
    case IDC_HELP_BUTTON: icon = IDI_HELP; break;
    case IDC_BUTTON_BACKUP:
      icon = IDI_BACKUP;
      down = m_operation == WizardOperation::Backup;
      break;
    case IDC_BUTTON_RESTORE:
      icon = IDI_RESTORE;
      down = m_operation == WizardOperation::Restore;
      break;
    case IDC_BUTTON_SCHEDULE:
      icon = IDI_SCHEDULE;
      down = m_operation == WizardOperation::Schedule;
      break;
    default:
      return;
  }
  bool big = item.CtlID >= IDC_BUTTON_BACKUP && item.CtlID <= IDC_BUTTON_SCHEDULE;
  HICON picture = (HICON)LoadImageA(ResourceModule(), MAKEINTRESOURCEA(icon), IMAGE_ICON,
                                    big ? 32 : 16, big ? 32 : 16, LR_SHARED);
  DrawPictureButton(item, picture, down);
}

void CWizardDialog::Next() {
  switch (m_page) {
    case PageWelcome:
    case PageOperation:
      ShowPage(static_cast<WizardPage>(m_page + 1));
      break;
    case PageRunningPrograms:
      ShowPage(PageSelection);
      break;
    case PageFolder: {
      bool leave = m_operation == WizardOperation::Restore ? LeaveRestoreFolderPage()
                                                           : LeaveBackupFolderPage();
      if (leave) ShowPage(PageRunningPrograms);
      break;
    }
    case PageSelection:
      if (m_operation == WizardOperation::Restore) {
        ShowPage(PageProgress);
      } else if (LeaveSelectionPage()) {
        ShowPage(m_operation == WizardOperation::Schedule ? PageFinish : PageProgress);
      }
      break;
    case PageProgress:
      break;
    case PageFinish:
      Finish();
      break;
  }
}

void CWizardDialog::Back() {
  switch (m_page) {
    case PageWelcome:
    case PageProgress:
    case PageFinish:
      break;
    case PageSelection:
      ForgetPackedSet();
      ShowPage(PageFolder);
      break;
    default:
      ShowPage(static_cast<WizardPage>(m_page - 1));
      break;
  }
}

void CWizardDialog::CancelPressed(bool closingWindow) {
  switch (m_page) {
    case PageWelcome:
      End(IDCANCEL);
      break;
    case PageProgress: {
      // The run waits at its next check while the question is open and
      // stops there once the answer is yes.
      UINT question =
          m_operation == WizardOperation::Restore ? IDS_CANCEL_RESTORE : IDS_CANCEL_BACKUP;
      if (!m_worker.Valid()) break;
      m_run.HoldAtChecks(true);
      bool stop = AskYesNo(m_window, LoadResourceString(question));
      m_run.HoldAtChecks(false);
      if (stop && m_page == PageProgress && m_worker.Valid()) {
        m_run.Stop().Request();
        m_waitCursor = true;
        SetCursor(LoadCursor(NULL, IDC_WAIT));
      }
      break;
    }
    case PageFinish:
      End(IDOK);
      break;
    default:
      m_cancelled = true;
      ShowPage(PageFinish);
      break;
  }
}

void CWizardDialog::Finish() {
  if (m_operation == WizardOperation::Restore && !m_cancelled && RebootNeeded() &&
      AskYesNo(m_window, LoadResourceString(IDS_RESTART)))
    Reboot();
  End(IDOK);
}

void CWizardDialog::OpenHelp() {
  ShellExecuteA(m_window, "open", HelpFilePath().c_str(), NULL, NULL, SW_SHOWNORMAL);
}

void CWizardDialog::Browse() {
  UINT flags = BIF_RETURNONLYFSDIRS;
  if (m_operation != WizardOperation::Restore) flags |= BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  CFolderDialog dialog;
  dialog.title = kSelectFolder;
  dialog.path = CDiskObject::FolderOf(ItemText(IDC_FOLDER));
  dialog.flags = flags;
  if (dialog.Run(m_window) != IDOK) return;
  SetItemText(IDC_FOLDER, dialog.path);
  int end = GetWindowTextLengthA(Item(IDC_FOLDER));
  SendItemMessage(IDC_FOLDER, EM_SETSEL, end, end);
}

void CWizardDialog::FolderChanged() {
  std::string folder = ItemText(IDC_FOLDER);
  if (m_page == PageFolder) EnableItem(IDC_NEXT, folder.size() > 2);
  EnableItem(IDC_ROLLBACK, !StartsWithText(WithBackslashes(folder), RollbackFolder()));
}

std::string CWizardDialog::RollbackFolder() const {
  return CDiskObject::JoinPath(DocumentsFolder(), "Quillmark\\Rollback");
}

void CWizardDialog::CompressClicked() {
  bool compress = IsChecked(IDC_COMPRESS);
  EnableItem(IDC_METHOD_LABEL, compress);
  EnableItem(IDC_METHOD, compress);
  EnableItem(IDC_PROTECT, compress);
  ProtectClicked();
}

void CWizardDialog::ProtectClicked() {
  bool enable = IsChecked(IDC_COMPRESS) && IsChecked(IDC_PROTECT);
  for (int id : {IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_CONFIRM_LABEL, IDC_CONFIRM_PASSWORD})
    EnableItem(id, enable);
}

bool CWizardDialog::LeaveBackupFolderPage() {
  if (IsChecked(IDC_COMPRESS) && IsChecked(IDC_PROTECT)) {
    std::string password = ItemText(IDC_PASSWORD);
    std::string confirmation = ItemText(IDC_CONFIRM_PASSWORD);
    bool differ = password != confirmation;
    std::size_t length = password.size();
    WipeText(password);
    WipeText(confirmation);
    if (differ) {
      ShowError(m_window, LoadResourceString(IDS_PASSWORDS_DIFFER));
      return false;
    }
    if (length == 0) {
      ShowError(m_window, LoadResourceString(IDS_EMPTY_PASSWORD));
      return false;
    }
    if (length <= 5 && !AskYesNo(m_window, LoadResourceString(IDS_SHORT_PASSWORD))) return false;
  }
  if (m_operation == WizardOperation::Backup &&
      IsFolder(NormaliseSetFolder(ItemText(IDC_FOLDER))) &&
      !AskYesNo(m_window, LoadResourceString(IDS_FOLDER_EXISTS)))
    return false;
  if (!m_tree.Load(m_catalogue, CDiskObject::JoinPath(StartDirectory(), kCatalogueFile))) {
    ShowError(m_window, LoadResourceString(IDS_BACKUP_SETTINGS));
    return false;
  }
  return true;
}

bool CWizardDialog::LeaveRestoreFolderPage() {
  std::string folder = NormaliseSetFolder(ItemText(IDC_FOLDER));
  ForgetPackedSet();
  std::string settings;
  if (m_disk.FileExists(folder + kRestoreSettingsFile)) {
    settings = folder + kRestoreSettingsFile;
  } else if (m_disk.FileExists(folder + kArchiveFile)) {
    if (!OpenPackedSettings(folder)) return false;
    settings = m_packedSettingsPath;
  } else {
    ShowError(m_window, kInvalidRestoreFolder);
    return false;
  }
  if (!m_tree.Load(m_catalogue, settings)) {
    ShowError(m_window, kRestoreSettings);
    ForgetPackedSet();
    return false;
  }
  return true;
}

// The settings of a packed set, unpacked into a working folder of the
// wizard's own. A wrong password asks again; Cancel stays on the page.
bool CWizardDialog::OpenPackedSettings(const std::string& folder) {
  ArchiveReader archive(&m_run);
  if (!archive.Open(folder + kArchiveFile, true) || !archive.HasFile(kRestoreSettingsFile, false)) {
    ShowError(m_window, kInvalidRestoreFile);
    return false;
  }
  std::optional<std::string> working = MakeWorkingFolder();
  if (!working) {
    ShowError(m_window, kNoWorkingFolder);
    return false;
  }
  m_workingFolder = *working;
  std::string target = m_workingFolder + kRestoreSettingsFile;
  while (!archive.UnpackFile(kRestoreSettingsFile, target)) {
    if (m_run.ArchivePassword().empty()) {
      ForgetPackedSet();
      return false;
    }
    m_run.ForgetArchivePassword();
  }
  m_packedSettingsPath = target;
  return true;
}

void CWizardDialog::ForgetPackedSet() {
  m_packedSettingsPath.clear();
  m_run.ForgetArchivePassword();
  if (!m_workingFolder.empty()) {
    m_disk.RemoveFolderTree(m_workingFolder);
    m_workingFolder.clear();
  }
}

bool CWizardDialog::LeaveSelectionPage() {
  m_selectedCount = m_tree.MarkSelected();
  if (IsChecked(IDC_COMPRESS)) {
    if (SelectionSize(m_catalogue, m_disk) > kArchiveSizeLimit &&
        !AskYesNo(m_window, LoadResourceString(IDS_OVER_2GB)))
      return false;
  }
  if (m_operation != WizardOperation::Schedule) return true;

  ScheduleRequest request;
  request.settings.backupPath = ItemText(IDC_FOLDER);
  request.settings.compress = IsChecked(IDC_COMPRESS);
  request.settings.level =
      MethodCompressionLevel((int)SendItemMessage(IDC_METHOD, CB_GETCURSEL));
  if (request.settings.compress && IsChecked(IDC_PROTECT))
    request.settings.password = ItemText(IDC_PASSWORD);
  request.closePrograms = IsChecked(IDC_CLOSE_PROGRAMS);
  ScheduleOutcome outcome =
      SetUpSchedule(m_window, request, [this](const std::string& title) -> std::optional<std::string> {
        CPassword dialog;
        dialog.title = title;
        dialog.allowEmpty = true;
        if (dialog.Run(m_window) != IDOK) return std::nullopt;
        return dialog.password;
      });
  WipeText(request.settings.password);
  return outcome == ScheduleOutcome::Scheduled;
}

// --- The run on the worker thread ---------------------------------------

void CWizardDialog::StartWorker() {
  m_choices = RunChoices();
  m_choices.folder = NormaliseSetFolder(ItemText(IDC_FOLDER));
  if (m_operation == WizardOperation::Restore) {
    m_selectedCount = m_tree.MarkSelected();
    m_choices.rollback = IsItemEnabled(IDC_ROLLBACK) && IsChecked(IDC_ROLLBACK);
    m_choices.packedSet = !m_packedSettingsPath.empty();
  } else {
    m_choices.compress = IsChecked(IDC_COMPRESS);
    m_choices.level = MethodCompressionLevel((int)SendItemMessage(IDC_METHOD, CB_GETCURSEL));
    m_choices.protect = m_choices.compress && IsChecked(IDC_PROTECT);
    if (m_choices.protect) m_choices.password = ItemText(IDC_PASSWORD);
  }
  m_run.ResetProgress(m_selectedCount);
  SendItemMessage(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, m_selectedCount));
  SendItemMessage(IDC_PROGRESS, PBM_SETPOS, 0);
  SetItemText(IDC_CURRENT_ENTRY, "");
  SetItemText(IDC_CURRENT_FILE, "");
  ResetItemErrors();
  DWORD id = 0;
  m_worker.Reset(CreateThread(NULL, 0, &CWizardDialog::WorkerMain, this, 0, &id));
  if (!m_worker.Valid()) {
    m_cancelled = true;
    ShowPage(PageFinish);
    return;
  }
  SetTimer(m_window, kProgressTimer, 100, NULL);
}

DWORD WINAPI CWizardDialog::WorkerMain(LPVOID parameter) {
  CWizardDialog* wizard = static_cast<CWizardDialog*>(parameter);
  try {
    if (wizard->m_operation == WizardOperation::Restore)
      wizard->RestoreWorker();
    else
      wizard->BackupWorker();
  } catch (...) {
    WriteLog("Error: the run ended unexpectedly.");
    wizard->m_cancelled = true;
  }
  PostMessageA(wizard->m_run.Window(), WM_COMMAND, MAKEWPARAM(IDC_WORKER_DONE, 0), 0);
  return 0;
}

void CWizardDialog::BackupWorker() {
  const RunChoices& choices = m_choices;
  const std::string& folder = choices.folder;
  m_disk.SetOverwriteMode(OverwriteYesToAll);
  CTempFile beside;  // outlives the writer, which must close the file first
  ArchiveWriter archive(&m_run);
  archive.SetStopRequest(m_run.Stop());

  // A folder that was there before keeps what it held if the run fails.
  std::optional<std::vector<std::string>> namesBefore;
  if (IsFolder(folder)) namesBefore = NamesIn(folder);
  if (!m_disk.CreateFolderTree(folder) ||
      !m_disk.CreateFolderTree(folder + kRegistryFolder + "\\")) {
    m_run.ShowFatalError(kCreateFolder + m_disk.GetErrorText());
    m_cancelled = true;
    RemoveFailedSet(m_disk, folder, namesBefore);
    return;
  }
  try {
    if (!WriteBackupSet(archive, beside)) {
      m_cancelled = true;
      RemoveFailedSet(m_disk, folder, namesBefore);
    }
  } catch (...) {
    m_cancelled = true;
    RemoveFailedSet(m_disk, folder, namesBefore);
    throw;
  }
}

// The backup itself, into the prepared folder; true when the set is
// complete and in place.
bool CWizardDialog::WriteBackupSet(ArchiveWriter& archive, CTempFile& beside) {
  const RunChoices& choices = m_choices;
  const std::string& folder = choices.folder;
  bool succeeded = true;
  std::string built;
  if (choices.compress) {
    std::optional<std::string> password;
    if (choices.protect) password = choices.password;
    std::optional<std::string> buildPath = ArchiveBuildPath(folder, beside);
    if (!buildPath || !archive.Open(*buildPath, folder, false, password, choices.level)) {
      m_run.ShowFatalError(kCreateArchive +
                           (buildPath ? archive.GetErrorText() : SystemMessage(GetLastError())));
      succeeded = false;
    } else {
      built = *buildPath;
    }
    if (password) WipeText(*password);
  }
  if (succeeded)
    succeeded = RunBackup(m_disk, archive, choices.compress, folder, m_catalogue, m_run, true);
  if (choices.compress && archive.IsOpen()) {
    if (!archive.Close()) {
      m_run.ShowFatalError(kCreateArchive + archive.GetErrorText());
      succeeded = false;
    }
    m_disk.RemoveFolderTree(folder + kRegistryFolder + "\\");
  }
  succeeded = succeeded && !m_run.ShouldStop() && !m_cancelled;
  if (succeeded && choices.compress) {
    std::string error;
    succeeded = PutArchiveInPlace(built, folder, error);
    if (!succeeded) m_run.ShowFatalError(kCreateArchive + error);
  }
  if (succeeded) beside.Keep();
  return succeeded;
}

void CWizardDialog::RestoreWorker() {
  const RunChoices& choices = m_choices;
  CDiskObject disk(false, &m_run);
  disk.SetStopRequest(m_run.Stop());
  ArchiveReader archive(&m_run);
  archive.SetStopRequest(m_run.Stop());
  std::string setFolder = choices.folder;

  if (choices.packedSet) {
    if (!archive.Open(choices.folder + kArchiveFile, false)) {
      m_run.ShowFatalError(kOpenArchive);
      m_cancelled = true;
      return;
    }
    setFolder = m_workingFolder;
    if (!archive.UnpackFolder(std::string(kRegistryFolder) + "\\",
                              setFolder + kRegistryFolder + "\\")) {
      m_run.ShowFatalError(kUnpackRegistry);
      m_cancelled = true;
    }
  }
  if (!m_cancelled && choices.rollback) TakeRollback();
  // A restore that ended on a fatal error isn't reported as done.
  if (!m_cancelled && !m_run.ShouldStop() &&
      !RunRestore(disk, archive, choices.packedSet, setFolder, m_catalogue, m_run))
    m_cancelled = true;
  if (m_run.ShouldStop()) m_cancelled = true;
  if (choices.packedSet) {
    disk.RemoveFolderTree(setFolder + kRegistryFolder + "\\");
    archive.Close();
  }
}

// A packed set in the rollback folder that puts back what this restore
// overwrites. It replaces the previous rollback set only once it is
// complete; when it can't be taken, the restore goes ahead without it.
bool CWizardDialog::TakeRollback() {
  m_run.OnWindowThread([this] { SetItemText(IDC_HEADING, LoadResourceString(IDS_BACKUP_PROGRESS)); });
  std::string folder = NormaliseSetFolder(RollbackFolder());
  CDiskObject disk(true, &m_run);
  disk.SetStopRequest(m_run.Stop());
  CTempFile beside;
  ArchiveWriter archive(&m_run);
  archive.SetStopRequest(m_run.Stop());
  std::optional<std::string> built;
  if (disk.CreateFolderTree(folder) && disk.CreateFolderTree(folder + kRegistryFolder + "\\"))
    built = ArchiveBuildPath(folder, beside);
  bool taken = built && archive.Open(*built, folder, false, std::nullopt, -1);
  if (taken) {
    Catalogue copy;
    CopyEntries(m_catalogue, copy);
    taken = RunBackup(disk, archive, true, folder, copy, m_run, false);
    std::string settings = m_choices.packedSet ? m_packedSettingsPath
                                               : m_choices.folder + kRestoreSettingsFile;
    taken = taken && archive.AddFileAs(settings, "", kRestoreSettingsFile);
    taken = archive.Close() && taken && !m_run.ShouldStop();
  }
  disk.RemoveFolderTree(folder + kRegistryFolder + "\\");
  std::string error;
  if (taken) taken = PutArchiveInPlace(*built, folder, error);
  if (taken) beside.Keep();
  else WriteLog("Error: couldn't save rollback data in " + folder);
  m_run.ResetProgress(m_selectedCount);
  m_run.OnWindowThread([this] { SetItemText(IDC_HEADING, LoadResourceString(IDS_RESTORE_PROGRESS)); });
  return taken;
}

void CWizardDialog::WorkerDone() {
  if (!m_worker.Valid()) return;
  WaitForSingleObject(m_worker.Get(), INFINITE);  // it has posted its last word
  m_worker.Reset();
  KillTimer(m_window, kProgressTimer);
  RefreshProgress();
  m_waitCursor = false;
  SetCursor(LoadCursor(NULL, IDC_ARROW));
  WipeText(m_choices.password);
  ShowPage(PageFinish);
}

void CWizardDialog::RefreshProgress() {
  RunProgress progress = m_run.Progress();
  SendItemMessage(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, progress.total));
  SendItemMessage(IDC_PROGRESS, PBM_SETPOS, progress.position);
  if (ItemText(IDC_CURRENT_ENTRY) != progress.entry) SetItemText(IDC_CURRENT_ENTRY, progress.entry);
  if (ItemText(IDC_CURRENT_FILE) != progress.path) SetItemText(IDC_CURRENT_FILE, progress.path);
}
