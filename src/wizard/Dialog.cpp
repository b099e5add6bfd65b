#include "wizard/Dialog.h"

#include <exception>

#include "base/Interaction.h"

namespace {

IDialogSink* g_sink = nullptr;
// Posted to a dialog once it has opened, so that the sink sees it from the
// dialog's own message loop.
const UINT kOpenedMessage = WM_APP + 0x3F0;

}  // namespace

IDialogSink* DialogSink() { return g_sink; }

IDialogSink* SetDialogSink(IDialogSink* sink) {
  IDialogSink* previous = g_sink;
  g_sink = sink;
  return previous;
}

HINSTANCE ResourceModule() { return GetModuleHandleA(NULL); }

std::string LoadResourceString(UINT id) {
  char buffer[4096];
  int length = LoadStringA(ResourceModule(), id, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

CDialog::~CDialog() {
  if (m_window != NULL && !m_modal) {
    SetWindowLongPtrA(m_window, DWLP_USER, 0);
    DestroyWindow(m_window);
  }
}

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  std::string text(length + 1, '\0');
  length = GetWindowTextA(window, &text[0], length + 1);
  text.resize(length > 0 ? length : 0);
  return text;
}

std::string CDialog::ItemText(int id) const { return WindowText(Item(id)); }

void CDialog::SetItemText(int id, const std::string& text) const {
  SetDlgItemTextA(m_window, id, text.c_str());
}

bool CDialog::IsChecked(int id) const { return IsDlgButtonChecked(m_window, id) == BST_CHECKED; }

void CDialog::SetChecked(int id, bool checked) const {
  CheckDlgButton(m_window, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CDialog::IsItemEnabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

void CDialog::EnableItem(int id, bool enabled) const { EnableWindow(Item(id), enabled); }

bool CDialog::IsItemVisible(int id) const {
  return (GetWindowLongA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void CDialog::ShowItem(int id, bool shown) const { ShowWindow(Item(id), shown ? SW_SHOW : SW_HIDE); }

LRESULT CDialog::SendItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
  return SendDlgItemMessageA(m_window, id, message, wParam, lParam);
}

void CDialog::PressButton(int id) const {
  SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)Item(id));
}

void CDialog::End(INT_PTR result) {
  if (m_window == NULL) return;
  if (m_modal) {
    EndDialog(m_window, result);
    return;
  }
  static_cast<CModelessDialog*>(this)->m_result = result;
  HWND window = m_window;
  m_window = NULL;
  SetWindowLongPtrA(window, DWLP_USER, 0);
  DestroyWindow(window);
}

bool CDialog::OnCommand(int code, int id, HWND) {
  if (code != BN_CLICKED && code != 0) return false;
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      bool focusDefault = OnInit();
      if (DialogSink() != nullptr) PostMessageA(m_window, kOpenedMessage, 0, 0);
      return focusDefault ? TRUE : FALSE;
    }
    case kOpenedMessage:
      if (DialogSink() != nullptr) DialogSink()->DialogOpened(*this, m_resourceId);
      return TRUE;
    case WM_COMMAND:
      return OnCommand(HIWORD(wParam), LOWORD(wParam), (HWND)lParam) ? TRUE : FALSE;
    case WM_NOTIFY: {
      LRESULT result = 0;
      NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
      if (header == nullptr || !OnNotify((int)header->idFrom, *header, result)) return FALSE;
      SetWindowLongPtrA(m_window, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default: {
      INT_PTR result = 0;
      return OnMessage(message, wParam, lParam, result) ? result : FALSE;
    }
  }
}

INT_PTR CALLBACK CDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_window = window;
    SetWindowLongPtrA(window, DWLP_USER, lParam);
  } else {
    dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  try {
    return dialog->Dispatch(message, wParam, lParam);
  } catch (const std::exception& error) {
    WriteLog(std::string("Error: a window handler failed: ") + error.what());
  } catch (...) {
    WriteLog("Error: a window handler failed.");
  }
  return FALSE;
}

INT_PTR CModalDialog::Create(int resourceId, HWND parent) {
  m_resourceId = resourceId;
  m_modal = true;
  INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(resourceId), parent,
                                   &CDialog::Procedure, reinterpret_cast<LPARAM>(this));
  m_window = NULL;
  return result;
}

bool CModelessDialog::Create(int resourceId, HWND parent) {
  m_resourceId = resourceId;
  m_modal = false;
  HWND window = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(resourceId), parent,
                                   &CDialog::Procedure, reinterpret_cast<LPARAM>(this));
  return window != NULL;
}
