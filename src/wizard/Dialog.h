// A small base for the program's dialogs: the dialog procedure keeps the
// object from WM_INITDIALOG on, hands messages to virtual handlers and
// catches everything at that boundary, so no exception crosses into the
// window system.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class CDialog;

// Sees every dialog of the program once it has opened, and stands in for
// the system's folder and file choosers. Tests install one to answer the
// small dialogs as a user would; production has none.
class IDialogSink {
 public:
  virtual ~IDialogSink() = default;
  // Called from the dialog's own message loop, right after it opened.
  virtual void DialogOpened(CDialog& dialog, int resourceId) = 0;
  // The folder a user would pick, or nothing for Cancel.
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& initialFolder) = 0;
  // The file a user would pick, or nothing for Cancel.
  virtual std::optional<std::string> ChooseFile() = 0;
};

IDialogSink* DialogSink();
// Installs another sink (nullptr: none); returns the previous one.
IDialogSink* SetDialogSink(IDialogSink* sink);

// The program's module, where every template and string lives.
HINSTANCE ResourceModule();
// A string of the string table.
std::string LoadResourceString(UINT id);
// A window's text, whatever its length.
std::string WindowText(HWND window);

class CDialog {
 public:
  CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;
  virtual ~CDialog();

  HWND Handle() const { return m_window; }
  HWND Item(int id) const { return GetDlgItem(m_window, id); }
  int ResourceId() const { return m_resourceId; }

  std::string ItemText(int id) const;
  void SetItemText(int id, const std::string& text) const;
  bool IsChecked(int id) const;
  void SetChecked(int id, bool checked) const;
  bool IsItemEnabled(int id) const;
  void EnableItem(int id, bool enabled) const;
  bool IsItemVisible(int id) const;
  void ShowItem(int id, bool shown) const;
  LRESULT SendItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  // As if the user pressed the button (or chose the menu command) `id`.
  void PressButton(int id) const;

  // Ends a modal dialog with `result`; destroys a modeless one.
  void End(INT_PTR result);
  bool IsModal() const { return m_modal; }

 protected:
  // Return false to keep the system from setting the focus.
  virtual bool OnInit() { return true; }
  // True when handled.
  virtual bool OnCommand(int code, int id, HWND control);
  // True when handled; `result` goes back to the sender.
  virtual bool OnNotify(int id, NMHDR& header, LRESULT& result) { return false; }
  // Any other message; true when handled.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    return false;
  }
  virtual void OnOK() { End(IDOK); }
  virtual void OnCancel() { End(IDCANCEL); }

  HWND m_window = NULL;
  int m_resourceId = 0;
  bool m_modal = false;

 private:
  friend class CModalDialog;
  friend class CModelessDialog;
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
};

class CModalDialog : public CDialog {
 public:
  // Runs the dialog until it ends; its result, or -1 when it couldn't open.
  INT_PTR Create(int resourceId, HWND parent);
};

class CModelessDialog : public CDialog {
 public:
  // Opens the dialog and returns at once; false when it couldn't open.
  bool Create(int resourceId, HWND parent);
  // The result End was called with.
  INT_PTR Result() const { return m_result; }

 private:
  friend class CDialog;
  INT_PTR m_result = 0;
};
