#include "wizard/CustomItem.h"

#include <commdlg.h>
#include <shlobj.h>

#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "catalogue/CatalogueEntry.h"
#include "storage/DiskObject.h"
#include "wizard/FolderDialog.h"
#include "wizard/Resource.h"

namespace {

// The file a user picks in the system's open dialog, or nothing.
std::optional<std::string> OpenFileName(HWND owner) {
  if (DialogSink() != nullptr) return DialogSink()->ChooseFile();
  char file[MAX_PATH] = "";
  OPENFILENAMEA info = {};
  // The short form: Windows 95 and NT 4.0 refuse the longer structure.
  info.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  info.hwndOwner = owner;
  info.lpstrFile = file;
  info.nMaxFile = sizeof file;
  info.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
  if (!GetOpenFileNameA(&info)) return std::nullopt;
  return std::string(file);
}

// The name with the characters a file name can't hold taken out: the
// name becomes a folder of the backup set.
std::string CleanItemName(const std::string& name) {
  static const std::string kRefused = ":?*<>|\"";
  std::string clean;
  for (char c : name)
    if (kRefused.find(c) == std::string::npos) clean += c;
  return clean;
}

}  // namespace

CCustomItem::CCustomItem(CatalogueEntry& entry, bool restoreMode, bool showDelete)
    : m_entry(entry), m_restoreMode(restoreMode), m_showDelete(showDelete) {}

INT_PTR CCustomItem::Run(HWND parent) { return Create(IDD_CUSTOM_ITEM, parent); }

bool CCustomItem::OnInit() {
  SetItemText(IDC_ITEM_NAME, m_entry.name);
  std::string path;
  if (!m_entry.items.empty()) {
    const std::string& item = m_entry.items[0];
    size_t semicolon = item.find(';');
    // Items read back from the settings are bare paths.
    if (semicolon == std::string::npos) {
      path = item;
    } else {
      m_kept = item.substr(0, semicolon);
      path = item.substr(semicolon + 1);
    }
  }
  SetItemText(IDC_ITEM_PATH, path);
  if (m_restoreMode) {
    bool folder = !path.empty() && path.back() == '\\';
    EnableItem(IDC_ITEM_NAME, false);
    EnableItem(IDC_ITEM_FOLDER, folder);
    EnableItem(IDC_ITEM_FILE, !folder);
  }
  ShowItem(IDC_ITEM_DELETE, m_showDelete);
  return true;
}

bool CCustomItem::OnCommand(int code, int id, HWND control) {
  if (code != BN_CLICKED) return CModalDialog::OnCommand(code, id, control);
  switch (id) {
    case IDC_ITEM_FILE:
      ChooseFile();
      return true;
    case IDC_ITEM_FOLDER:
      ChooseFolder();
      return true;
    case IDC_ITEM_DELETE:
      End(IDC_ITEM_DELETE);
      return true;
    default:
      return CModalDialog::OnCommand(code, id, control);
  }
}

void CCustomItem::ChooseFile() {
  std::optional<std::string> file = OpenFileName(Handle());
  if (!file) return;
  std::string path = WithBackslashes(*file);
  TakePlace(path, CDiskObject::FileNameOf(path));
}

void CCustomItem::ChooseFolder() {
  std::string initial = ItemText(IDC_ITEM_PATH);
  std::string name;
  std::optional<std::string> folder =
      BrowseForFolder(Handle(), LoadResourceString(IDS_SELECT_FOLDER), initial,
                      BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE, &name);
  if (!folder || folder->empty()) return;
  std::string path = WithBackslashes(*folder);
  if (path.back() != '\\') path += '\\';
  TakePlace(path, name);
}

void CCustomItem::TakePlace(const std::string& path, const std::string& name) {
  SetItemText(IDC_ITEM_PATH, path);
  if (ItemText(IDC_ITEM_NAME).empty()) SetItemText(IDC_ITEM_NAME, name);
}

void CCustomItem::OnOK() {
  std::string path = ItemText(IDC_ITEM_PATH);
  if (path.empty()) {
    Ask(Handle(), LoadResourceString(IDS_EMPTY_ITEM_PATH), kCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  std::string name = CleanItemName(ItemText(IDC_ITEM_NAME));
  if (name.empty()) {
    Ask(Handle(), LoadResourceString(IDS_EMPTY_ITEM_NAME), kCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  m_entry.name = name;
  m_entry.display = path;
  std::string item = m_kept + ";" + path;
  if (m_entry.items.empty()) {
    m_entry.items.push_back(item);
  } else {
    m_entry.items[0] = item;
  }
  End(IDOK);
}
