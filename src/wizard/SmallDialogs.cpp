#include "wizard/SmallDialogs.h"

#include "base/Text.h"
#include "base/Settings.h"
#include "wizard/Resource.h"

namespace {

const char kPasswordsDiffer[] = "Passwords do not match!";
const char kAboutCaption[] = "About Quillmark";
const char kVersionLine[] = "Quillmark v1.04";

}  // namespace

CPassword::~CPassword() {
  WipeText(password);
  WipeText(verification);
}

bool CPassword::OnInit() {
  SetWindowTextA(m_window, title.c_str());
  SetItemText(IDC_PASSWORD_EDIT, password);
  SetItemText(IDC_VERIFY_EDIT, verification);
  return true;
}

void CPassword::OnOK() {
  password = ItemText(IDC_PASSWORD_EDIT);
  verification = ItemText(IDC_VERIFY_EDIT);
  if (password != verification) {
    Ask(m_window, kPasswordsDiffer, kCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  if (!password.empty() || allowEmpty) End(IDOK);
}

bool CConfirm::OnInit() {
  SetItemText(IDC_QUESTION, question);
  return true;
}

bool CConfirm::OnCommand(int code, int id, HWND control) {
  switch (id) {
    case IDYES:
    case IDNO:
    case IDCANCEL:
    case IDC_YES_TO_ALL:
    case IDC_NO_TO_ALL:
      End(id);
      return true;
    default:
      return CModalDialog::OnCommand(code, id, control);
  }
}

bool CAboutBox::OnInit() {
  SetWindowTextA(m_window, kAboutCaption);
  SetItemText(IDC_VERSION_LINE, kVersionLine);
  return true;
}

bool ConfirmOverwrite(HWND owner, const std::string& path, OverwriteAnswer& answer) {
  CConfirm confirm;
  confirm.question = "File " + path + " already exists! Overwrite?";
  switch (confirm.Run(owner)) {
    case IDYES:
      answer = OverwriteYes;
      return true;
    case IDNO:
      answer = OverwriteNo;
      return true;
    case IDC_YES_TO_ALL:
      answer = OverwriteYesToAll;
      return true;
    case IDC_NO_TO_ALL:
      answer = OverwriteNoToAll;
      return true;
    default:
      return false;
  }
}
