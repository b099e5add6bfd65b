// The wizard's small dialogs: a password, the overwrite question and the
// about box. Each takes its data in as members and hands the answer out.
#pragma once

#include <windows.h>

#include <string>

#include "base/Interaction.h"
#include "wizard/Dialog.h"
#include "wizard/Resource.h"

const char kPasswordTitle[] = "The files and settings are password protected";

class CPassword : public CModalDialog {
 public:
  std::string password;
  std::string verification;
  bool allowEmpty = false;
  std::string title = kPasswordTitle;

  CPassword() = default;
  // The typed texts don't outlive the dialog in memory.
  ~CPassword() override;

  // IDOK with the password typed twice the same, or IDCANCEL.
  INT_PTR Run(HWND parent) { return Create(IDD_PASSWORD, parent); }

 protected:
  bool OnInit() override;
  void OnOK() override;
};

class CConfirm : public CModalDialog {
 public:
  std::string question;

  // The pressed button: IDYES, IDNO, IDCANCEL, or the "Yes to All" and
  // "No to All" ids.
  INT_PTR Run(HWND parent) { return Create(IDD_CONFIRM, parent); }

 protected:
  bool OnInit() override;
  bool OnCommand(int code, int id, HWND control) override;
};

class CAboutBox : public CModalDialog {
 public:
  INT_PTR Run(HWND parent) { return Create(IDD_ABOUT, parent); }

 protected:
  bool OnInit() override;
};

// The overwrite question of a wizard run: false for Cancel, which stops the
// run; otherwise `answer` says what to do with this file and the next ones.
bool ConfirmOverwrite(HWND owner, const std::string& path, OverwriteAnswer& answer);
