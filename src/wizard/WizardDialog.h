// The windowed program's wizard: seven pages that lead through a backup, a
// restore (with a rollback set first) or the setup of a daily backup, with
// the run itself on a worker thread.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>
#include <string>

#include "base/GdiObject.h"
#include "base/TempFile.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "wizard/Dialog.h"
#include "wizard/PictureButton.h"
#include "wizard/SelectionTree.h"
#include "wizard/WizardOperation.h"
#include "wizard/WizardRun.h"

enum WizardPage {
  PageWelcome = 0,
  PageOperation = 1,
  PageFolder = 2,
  PageRunningPrograms = 3,
  PageSelection = 4,
  PageProgress = 5,
  PageFinish = 6,
};

// The folder text of the finish page with "<BR>" put in near every 44th
// character, after a blank or a backslash where one is near.
std::string BreakFolderText(const std::string& folder);

// The help file the Help button opens: "Quillmark.hlp" in the start
// directory when it is there, else "Quillmark.chm".
std::string HelpFilePath();

class CWizardDialog : public CModelessDialog {
 public:
  CWizardDialog();
  ~CWizardDialog() override;

  // Opens the wizard and returns at once (tests drive it from here).
  bool Open(HWND parent = NULL);
  // Opens it and runs its messages until it closes: IDOK after the finish
  // page, IDCANCEL when the user left on the welcome page, -1 when it
  // couldn't open.
  INT_PTR RunModal();

  WizardPage Page() const { return m_page; }
  WizardOperation Operation() const { return m_operation; }
  bool Cancelled() const { return m_cancelled; }
  bool WorkerRunning() const { return m_worker.Valid(); }
  const std::string& OutcomeText() const { return m_outcome; }
  Catalogue& LoadedCatalogue() { return m_catalogue; }
  CSelectionTree& Tree() { return m_tree; }

 protected:
  bool OnInit() override;
  bool OnCommand(int code, int id, HWND control) override;
  bool OnNotify(int id, NMHDR& header, LRESULT& result) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnOK() override {}
  void OnCancel() override { CancelPressed(false); }

 private:
  // What a run needs from the window, read before the worker starts.
  struct RunChoices {
    std::string folder;  // ends with "\"
    bool compress = false;
    int level = -1;
    bool protect = false;
    std::string password;
    bool rollback = false;
    bool packedSet = false;
  };

  void ChooseOperation(WizardOperation operation);
  void ShowPage(WizardPage page);
  void ShowPageControls(WizardPage page);
  void SetHeader(WizardPage page);
  void SetDefaultButton(int id);
  void Next();
  void Back();
  void CancelPressed(bool closingWindow);
  void Finish();
  void OpenHelp();
  void Browse();
  void FolderChanged();
  void CompressClicked();
  void ProtectClicked();

  bool LeaveRestoreFolderPage();
  bool OpenPackedSettings(const std::string& folder);
  bool LeaveBackupFolderPage();
  bool LeaveSelectionPage();
  void ForgetPackedSet();

  void StartWorker();
  static DWORD WINAPI WorkerMain(LPVOID wizard);
  void BackupWorker();
  bool WriteBackupSet(ArchiveWriter& archive, CTempFile& beside);
  void RestoreWorker();
  bool TakeRollback();
  void WorkerDone();
  void RefreshProgress();

  std::string OutcomeFor() const;
  std::string RollbackFolder() const;
  void DrawButton(const DRAWITEMSTRUCT& item);

  WizardOperation m_operation = WizardOperation::None;
  WizardPage m_page = PageWelcome;
  bool m_cancelled = false;
  bool m_waitCursor = false;
  Catalogue m_catalogue;
  CSelectionTree m_tree;
  CWizardRun m_run;
  CDiskObject m_disk;
  std::string m_packedSettingsPath;  // the set's settings unpacked, or empty
  std::string m_workingFolder;       // where they were unpacked, or empty
  int m_selectedCount = 0;
  RunChoices m_choices;
  CHandle m_worker;
  std::string m_outcome;
  CBitmap m_headers[7];
  CToolTips m_tips;
};
