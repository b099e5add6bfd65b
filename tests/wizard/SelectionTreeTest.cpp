#include "wizard/SelectionTree.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>

#include "base/Flags.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/Registry.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"
#include "wizard/Dialog.h"
#include "wizard/Resource.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmSelectionTreeTests";
const std::string kSettings = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";
const std::string kCustom = kSettings + "\\Custom";
const std::string kGroup = "Custom files and folders";
// The top entries of the tests, whose choices are kept under their names.
const char* const kTopNames[] = {"Office", "Tools", "Sizes", "Unchosen", "Custom files and folders"};

// The selection page of the wizard.
class CHost : public CModelessDialog {
 public:
  CSelectionTree tree{*this};

 protected:
  bool OnNotify(int id, NMHDR& header, LRESULT& result) override {
    return id == IDC_TREE && tree.OnNotify(header, result);
  }
  bool OnCommand(int code, int id, HWND control) override {
    return tree.OnCommand(id) || CModelessDialog::OnCommand(code, id, control);
  }
};

// Answers each custom item dialog with its next step, and the file and
// folder choosers with the next path.
class CDialogScript : public IDialogSink {
 public:
  void DialogOpened(CDialog& dialog, int resourceId) override {
    if (resourceId != IDD_CUSTOM_ITEM) return;
    ++opened;
    if (!steps.empty()) {
      auto step = steps.front();
      steps.pop_front();
      step(dialog);
    }
    // A dialog the script forgot would wait for ever.
    if (IsWindowVisible(dialog.Handle())) {
      leftOpen = true;
      dialog.PressButton(IDCANCEL);
    }
  }
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string&) override {
    folderTitle = title;
    return ChooseFile();
  }
  std::optional<std::string> ChooseFile() override {
    if (paths.empty()) return std::nullopt;
    std::string path = paths.front();
    paths.pop_front();
    return path;
  }

  std::deque<std::function<void(CDialog&)>> steps;
  std::deque<std::string> paths;
  std::string folderTitle;
  int opened = 0;
  bool leftOpen = false;
};

// The first and the default item of the context menu last shown.
struct ShownMenu {
  bool shown = false;
  UINT first = 0, byDefault = 0;
} g_menu;

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) {
  HWND window = FindWindowA("#32768", NULL);
  if (window == NULL || !IsWindowVisible(window)) return;
  HMENU menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
  g_menu = {true, GetMenuItemID(menu, 0), GetMenuDefaultItem(menu, TRUE, 0)};
  EndMenu();
}

void Pump() {
  MSG message;
  for (int quiet = 0; quiet < 5; ++quiet) {
    Sleep(5);
    for (; PeekMessageA(&message, NULL, 0, 0, PM_REMOVE); quiet = 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

void ForgetChoices() {
  HKEY settings;
  bool open = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tervane\\Quillmark", 0, KEY_SET_VALUE, &settings) == 0;
  for (const char* name : kTopNames) {
    DeleteKeyTree(kSettings + "\\" + name);
    if (open) RegDeleteValueA(settings, name);
  }
  if (open) RegCloseKey(settings);
  DeleteKeyTree(kCustom);
}

class SelectionTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    SetWizardMode(true);
    settingsExisted = RegistryKeyExists(kSettings);
    ForgetChoices();
    ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Present"));
    previousSink = SetDialogSink(&script);
    ASSERT_TRUE(host.Create(IDD_WIZARD, NULL));
  }
  void TearDown() override {
    EXPECT_FALSE(script.leftOpen);
    host.End(IDCANCEL);
    SetDialogSink(previousSink);
    ForgetChoices();
    if (!settingsExisted) DeleteKeyTree(kSettings);
    DeleteKeyTree(kRoot);
    ResetFlags();
    CloseSystemOperations();
  }

  // Loads a document of the given lines, every entry unfolded.
  bool Load(WizardOperation operation, const std::string& lines) {
    std::string text = "<?xml version=\"1.0\"?>\r\n<catalogue>\r\n";
    for (char c : lines + "\n</catalogue>\n") text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteWholeFile(temp.Path() + "backup.xml", text);
    host.tree.SetOperation(operation);
    bool loaded = host.tree.Load(catalogue, temp.Path() + "backup.xml");
    for (const auto& entry : catalogue.Entries())
      if (host.tree.ItemOf(*entry) != NULL) TreeView_Expand(Tree(), host.tree.ItemOf(*entry), TVE_EXPAND);
    return loaded;
  }
  void Store(std::initializer_list<const char*> choices, const char* value) {
    for (const char* choice : choices) {
      std::string path = kSettings + "\\" + choice;
      CreateRegistryKey(path.substr(0, path.rfind('\\')));
      ASSERT_TRUE(WriteRegistryValue(path, value, 0));
    }
  }
  void StoreCustom(std::initializer_list<std::pair<const char*, const char*>> items) {
    ASSERT_TRUE(CreateRegistryKey(kCustom));
    int n = 0;
    for (const auto& item : items) {
      WriteRegistryValue(kCustom + "\\itemName" + std::to_string(n), item.first, 0);
      WriteRegistryValue(kCustom + "\\itemValue" + std::to_string(n++), item.second, 0);
    }
  }

  HWND Tree() { return host.Item(IDC_TREE); }
  CatalogueEntry* Find(const std::string& name) {
    for (const auto& entry : catalogue.Entries())
      if (entry->name == name) return entry.get();
    return nullptr;
  }
  HTREEITEM Item(const std::string& name) { return Find(name) ? host.tree.ItemOf(*Find(name)) : NULL; }
  // The checked entries shown, in the tree's order, each followed by "|".
  std::string Checked() {
    std::string names;
    for (const auto& entry : catalogue.Entries())
      if (host.tree.IsChecked(*entry) && entry->name != kGroup) names += entry->name + "|";
    return names;
  }
  // The labels below an item, each followed by "|".
  std::string Children(const std::string& name) {
    std::string labels;
    for (HTREEITEM item = TreeView_GetChild(Tree(), Item(name)); item; item = TreeView_GetNextSibling(Tree(), item)) {
      char text[256] = "";
      TVITEMA info = {};
      info.mask = TVIF_TEXT;
      info.hItem = item;
      info.pszText = text;
      info.cchTextMax = sizeof text;
      TreeView_GetItem(Tree(), &info);
      labels += std::string(text) + "|";
    }
    return labels;
  }
  std::string Boxes() {
    std::string texts;
    for (const auto& box : boxes.boxes) texts += box.text + "|";
    return texts;
  }

  // The mouse messages of a user's click on the item's box or label, with
  // the cursor there.
  void Mouse(const std::string& name, bool onBox, std::initializer_list<UINT> messages) {
    HTREEITEM item = Item(name);
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof item);  // the message takes the item in the rectangle
    ASSERT_TRUE(SendMessageA(Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect))) << name;
    int width = 16, height = 16;
    ImageList_GetIconSize(TreeView_GetImageList(Tree(), TVSIL_STATE), &width, &height);
    POINT point = {onBox ? rect.left - width / 2 : (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    TVHITTESTINFO hit = {point, 0, NULL};
    ASSERT_EQ(item, TreeView_HitTest(Tree(), &hit));
    ASSERT_TRUE(hit.flags & (onBox ? TVHT_ONITEMSTATEICON : TVHT_ONITEMLABEL));
    POINT screen = point;
    ClientToScreen(Tree(), &screen);
    SetCursorPos(screen.x, screen.y);
    for (UINT message : messages) {
      WPARAM buttons = message == WM_RBUTTONDOWN ? MK_RBUTTON : message == WM_LBUTTONUP || message == WM_RBUTTONUP ? 0 : MK_LBUTTON;
      PostMessageA(Tree(), message, buttons, MAKELPARAM(point.x, point.y));
    }
    Pump();
  }
  void ClickBox(const std::string& name) { Mouse(name, true, {WM_LBUTTONDOWN, WM_LBUTTONUP}); }
  void DoubleClick(const std::string& name) {
    Mouse(name, false, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
  }
  void RightClick(const std::string& name) {
    g_menu = ShownMenu();
    UINT_PTR timer = SetTimer(NULL, 0, 50, CloseMenu);
    Mouse(name, false, {WM_RBUTTONDOWN, WM_RBUTTONUP});
    Sleep(100);
    Pump();
    KillTimer(NULL, timer);
  }
  void Key(const std::string& name, WPARAM key) {
    TreeView_SelectItem(Tree(), Item(name));
    PostMessageA(Tree(), WM_KEYDOWN, key, 1);
    PostMessageA(Tree(), WM_KEYUP, key, 0xC0000001);
    Pump();
  }

  CTemporaryFolder temp;
  CScriptedInteraction boxes;
  CDialogScript script;
  IDialogSink* previousSink = nullptr;
  Catalogue catalogue;
  CHost host;
  bool settingsExisted = false;
};

const std::string kOffice =
    "<backup name=\"Office\" display=\"The office programs\" keyExists=\"" + kRoot + "\\Present\">\n"
    " <backup name=\"Mail\">\n  <backup name=\"Rules\">\n  </backup>\n  <backup name=\"Filters\">\n  </backup>\n </backup>\n"
    " <backup name=\"Word\">\n </backup>\n"
    "</backup>\n"
    "<backup name=\"Tools\">\n"
    " <backup name=\"Quillmark\">\n  <backup name=\"Old sets\">\n  </backup>\n </backup>\n"
    " <backup name=\"Editor\">\n </backup>\n"
    "</backup>\n"
    "<backup name=\"Absent\" keyExists=\"" + kRoot + "\\Missing\">\n <backup name=\"Absent child\">\n </backup>\n</backup>";

// ------------------------------------------------------------ check boxes

const std::initializer_list<const char*> kEveryChoice = {
    "Office", "Office\\Mail", "Office\\Mail\\Rules", "Office\\Mail\\Filters", "Office\\Word",
    "Tools", "Tools\\Quillmark", "Tools\\Quillmark\\Old sets", "Tools\\Editor"};

TEST_F(SelectionTree, ShowsThisComputersEntriesWithTheirStoredChoices) {
  Store({"Office", "Office\\Mail", "Office\\Mail\\Filters", "Office\\Word", "Tools"}, "0");
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  EXPECT_TRUE(GetWindowLongA(Tree(), GWL_STYLE) & TVS_CHECKBOXES);
  EXPECT_TRUE(Item("Absent") == NULL && Item("Absent child") == NULL);
  EXPECT_EQ("Rules|Filters|", Children("Mail"));
  // A checked entry checks the entries around it, whatever they stored.
  EXPECT_EQ("Office|Mail|Rules|Tools|Quillmark|Old sets|Editor|", Checked());
  EXPECT_EQ("", Boxes());  // the missing programs are named for a restore only

  TreeView_SelectItem(Tree(), Item("Office"));
  EXPECT_EQ("The office programs", host.ItemText(IDC_ITEM_TEXT));
  EXPECT_EQ(8, host.tree.MarkSelected());  // with the group
  EXPECT_FALSE(Find("Word")->selected);

  EXPECT_FALSE(host.tree.Load(catalogue, temp.Path() + "missing.xml"));
  EXPECT_TRUE(catalogue.Entries().empty());
  EXPECT_EQ(0u, TreeView_GetCount(Tree()));
}

TEST_F(SelectionTree, CheckedEntriesStayInsideCheckedOnes) {
  Store(kEveryChoice, "0");
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  ClickBox("Filters");
  EXPECT_EQ("Office|Mail|Filters|", Checked());
  ClickBox("Filters");  // the last checked child: its parent goes, the grandparent stays
  EXPECT_EQ("Office|", Checked());
  ClickBox("Office");
  EXPECT_EQ("", Checked());
  ClickBox("Office");
  EXPECT_EQ("Office|Mail|Rules|Filters|Word|", Checked());

  // Space on the selected entry, whose box the control flips itself too.
  Key("Rules", VK_SPACE);
  EXPECT_EQ("Office|Mail|Filters|Word|", Checked());
  Key("Filters", VK_SPACE);
  EXPECT_EQ("Office|Word|", Checked());
  Key("Rules", VK_SPACE);
  EXPECT_EQ("Office|Mail|Rules|Word|", Checked());
  EXPECT_EQ("", Boxes());
}

TEST_F(SelectionTree, OwnBackupsAreTakenOnlyWhenTheUserAgrees) {
  Store(kEveryChoice, "0");
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  boxes.QueueBoxAnswer(IDNO);
  ClickBox("Quillmark");
  EXPECT_EQ("", Checked());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("Are you sure you want to include previously saved backups into the current backup?|", Boxes());
  EXPECT_EQ("Quillmark", boxes.boxes[0].caption);
  EXPECT_EQ(UINT(MB_YESNO | MB_ICONQUESTION), boxes.boxes[0].style);

  // Checked from above it is asked again; refused, it keeps its own entries out.
  boxes.QueueBoxAnswer(IDNO);
  ClickBox("Tools");
  EXPECT_EQ("Tools|Editor|", Checked());
  boxes.QueueBoxAnswer(IDYES);
  ClickBox("Quillmark");
  EXPECT_EQ("Tools|Quillmark|Old sets|Editor|", Checked());
  ClickBox("Quillmark");  // unchecking asks nothing
  EXPECT_EQ(3u, boxes.boxes.size());
}

// ------------------------------------------------------------ custom items

TEST_F(SelectionTree, AddedItemsGetACleanUniqueNameAndAPath) {
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  script.paths = {"C:/docs/letter.txt", "C:\\data\\notes.ini", "C:/games/saves"};
  script.steps.push_back([](CDialog& dialog) {
    EXPECT_TRUE(dialog.IsItemEnabled(IDC_ITEM_NAME) && dialog.IsItemEnabled(IDC_ITEM_FOLDER));
    EXPECT_FALSE(dialog.IsItemVisible(IDC_ITEM_DELETE));
    dialog.SetItemText(IDC_ITEM_NAME, "a:b*c");
    dialog.PressButton(IDC_ITEM_FILE);
    dialog.PressButton(IDOK);
  });
  DoubleClick(kGroup);
  // No path, a name of refused characters only, a program's name.
  script.steps.push_back([](CDialog& dialog) {
    dialog.PressButton(IDOK);
    dialog.PressButton(IDC_ITEM_FILE);
    EXPECT_EQ("notes.ini", dialog.ItemText(IDC_ITEM_NAME));
    dialog.SetItemText(IDC_ITEM_NAME, "\"<?>|\"");
    dialog.PressButton(IDOK);
    dialog.SetItemText(IDC_ITEM_NAME, "Word");
    dialog.PressButton(IDOK);
  });
  script.steps.push_back([](CDialog& dialog) {
    EXPECT_EQ("Word", dialog.ItemText(IDC_ITEM_NAME));
    dialog.SetItemText(IDC_ITEM_NAME, "Notes");
    dialog.PressButton(IDOK);
  });
  Key(kGroup, VK_INSERT);
  script.steps.push_back([](CDialog& dialog) {
    dialog.PressButton(IDC_ITEM_FOLDER);
    dialog.PressButton(IDOK);
  });
  host.PressButton(IDM_ADD_ITEM);
  script.steps.push_back([](CDialog& dialog) { dialog.PressButton(IDCANCEL); });
  DoubleClick(kGroup);

  EXPECT_EQ("Error: item path is empty!|Error: item name is empty!|"
            "Error: there is another item with this name. Please choose another!|", Boxes());
  EXPECT_EQ(UINT(MB_OK | MB_ICONSTOP), boxes.boxes.back().style);
  EXPECT_EQ("Select folder", script.folderTitle);
  EXPECT_EQ(5, script.opened);
  EXPECT_EQ("abc|Notes|saves|", Children(kGroup));
  EXPECT_EQ("C:\\docs\\letter.txt", Find("abc")->display);
  EXPECT_EQ(std::vector<std::string>{";C:\\docs\\letter.txt"}, Find("abc")->items);
  EXPECT_EQ(std::vector<std::string>{";C:\\games\\saves\\"}, Find("saves")->items);
  EXPECT_EQ(catalogue.Entries().back().get(), Find("saves"));
  EXPECT_TRUE(host.tree.IsChecked(*Find("abc")) && host.tree.IsChecked(*Find(kGroup)));
}

TEST_F(SelectionTree, OnlyCustomItemsAreEditedOrRemoved) {
  StoreCustom({{"Letters", "D:\\Letters\\"}, {"Photos", "D:\\Photos\\"}, {"Music", "D:\\Music\\"}});
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  // A refused name, then Cancel: the item stays as it was.
  script.steps.push_back([](CDialog& dialog) {
    EXPECT_EQ("D:\\Letters\\", dialog.ItemText(IDC_ITEM_PATH));
    EXPECT_TRUE(dialog.IsItemVisible(IDC_ITEM_DELETE));
    dialog.SetItemText(IDC_ITEM_NAME, "Photos");
    dialog.PressButton(IDOK);
  });
  script.steps.push_back([](CDialog& dialog) { dialog.PressButton(IDCANCEL); });
  DoubleClick("Letters");
  EXPECT_EQ(std::vector<std::string>{"D:\\Letters\\"}, Find("Letters")->items);
  script.steps.push_back([](CDialog& dialog) {
    dialog.SetItemText(IDC_ITEM_NAME, "Old letters");
    dialog.PressButton(IDOK);
  });
  DoubleClick("Letters");
  EXPECT_EQ("Old letters|Photos|Music|", Children(kGroup));
  EXPECT_EQ(std::vector<std::string>{";D:\\Letters\\"}, Find("Old letters")->items);
  EXPECT_EQ("D:\\Letters\\", host.ItemText(IDC_ITEM_TEXT));

  Key("Word", VK_DELETE);
  boxes.QueueBoxAnswer(IDNO);
  Key("Photos", VK_DELETE);
  EXPECT_EQ("Error: there is another item with this name. Please choose another!|"
            "Are you sure you want to delete this custom item?|", Boxes());
  script.steps.push_back([](CDialog& dialog) { dialog.PressButton(IDC_ITEM_DELETE); });
  DoubleClick("Photos");
  EXPECT_EQ(nullptr, Find("Photos"));
  EXPECT_NE(nullptr, Find("Word"));
  EXPECT_EQ(Item(kGroup), TreeView_GetSelection(Tree()));

  // The context menus: the group's, an item's, and none elsewhere.
  RightClick(kGroup);
  EXPECT_TRUE(g_menu.shown && g_menu.first == IDM_ADD_ITEM && g_menu.byDefault == 0);
  RightClick("Word");
  EXPECT_FALSE(g_menu.shown);
  RightClick("Music");
  EXPECT_TRUE(g_menu.shown && g_menu.first == IDM_EDIT_ITEM && g_menu.byDefault == 0);
  host.PressButton(IDM_DELETE_ITEM);  // the item the menu was on, without a question
  EXPECT_EQ("Old letters|", Children(kGroup));

  boxes.QueueBoxAnswer(IDNO);
  host.PressButton(IDM_DELETE_ALL);
  EXPECT_EQ("Are you sure you want to delete all custom items?", boxes.boxes.back().text);
  EXPECT_EQ("Old letters|", Children(kGroup));
  boxes.QueueBoxAnswer(IDYES);
  host.PressButton(IDM_DELETE_ALL);
  EXPECT_EQ("", Children(kGroup));
  EXPECT_EQ(nullptr, Find("Old letters"));
  EXPECT_EQ(4u, boxes.boxes.size());
}

TEST_F(SelectionTree, ARestoreNamesWhatIsMissingAndOnlyMovesItsItems) {
  ASSERT_TRUE(Load(WizardOperation::Restore,
                   "<restore name=\"Office\">\n</restore>\n"
                   "<restore name=\"Absent\" keyExists=\"" + kRoot + "\\Missing\">\n"
                   " <restore name=\"Absent child\">\n </restore>\n</restore>\n"
                   "<restore name=\"Tools\" keyExists=\"" + kRoot + "\\Missing\">\n</restore>\n"
                   "<restore name=\"Custom files and folders\">\n"
                   " <restore name=\"Letters\" display=\"D:\\Letters\\\">\n"
                   "  <item name=\"Letters\" path=\"D:\\Letters\\\"/>\n </restore>\n"
                   "</restore>"));
  EXPECT_EQ("The following applications were not found on this computer and will not be "
            "restored:\r\nAbsent\r\nTools\r\n|", Boxes());
  EXPECT_EQ(UINT(MB_OK | MB_ICONWARNING), boxes.boxes[0].style);

  script.paths = {"E:\\Moved"};
  script.steps.push_back([](CDialog& dialog) {
    EXPECT_FALSE(dialog.IsItemEnabled(IDC_ITEM_NAME) || dialog.IsItemEnabled(IDC_ITEM_FILE));
    EXPECT_FALSE(dialog.IsItemVisible(IDC_ITEM_DELETE));
    EXPECT_TRUE(dialog.IsItemEnabled(IDC_ITEM_FOLDER));
    dialog.PressButton(IDC_ITEM_FOLDER);
    dialog.PressButton(IDOK);
  });
  DoubleClick("Letters");
  // Where the set keeps the item stays; where it goes changes.
  EXPECT_EQ(std::vector<std::string>{"Letters;E:\\Moved\\"}, Find("Letters")->items);
  EXPECT_EQ("E:\\Moved\\", Find("Letters")->display);

  Key("Letters", VK_DELETE);
  RightClick("Letters");
  EXPECT_FALSE(g_menu.shown);
  DoubleClick(kGroup);  // nothing to add to a set
  EXPECT_EQ(1, script.opened);
  EXPECT_NE(nullptr, Find("Letters"));
  EXPECT_EQ(1u, boxes.boxes.size());
}

// ------------------------------------------------------------ what is kept

TEST_F(SelectionTree, SavedChoicesAndCustomItemsComeBack) {
  StoreCustom({{"Letters", "D:\\Letters\\"}, {"Photos", "D:\\Photos\\"}});
  ASSERT_TRUE(CreateRegistryKey(kCustom + "\\Stray"));
  WriteRegistryValue(kCustom + "\\itemName7", "Stray", 0);
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  ClickBox("Word");
  ClickBox("Letters");
  script.paths = {"C:\\notes.txt"};
  script.steps.push_back([](CDialog& dialog) {
    dialog.PressButton(IDC_ITEM_FILE);
    dialog.PressButton(IDOK);
  });
  host.PressButton(IDM_ADD_ITEM);
  boxes.QueueBoxAnswer(IDYES);
  Key("Photos", VK_DELETE);
  host.tree.SaveChoices();

  EXPECT_EQ("0", ReadRegistryValue(kSettings + "\\Office\\Word").value_or("?"));
  EXPECT_EQ("1", ReadRegistryValue(kSettings + "\\Office").value_or("?"));
  EXPECT_EQ("0", ReadRegistryValue(kSettings + "\\Custom files and folders\\Letters").value_or("?"));
  EXPECT_FALSE(ReadRegistryValue(kSettings + "\\Absent"));
  EXPECT_FALSE(RegistryKeyExists(kCustom + "\\Stray"));
  EXPECT_FALSE(ReadRegistryValue(kCustom + "\\itemName7"));

  host.tree.Clear();
  ASSERT_TRUE(Load(WizardOperation::Backup, kOffice));
  EXPECT_EQ("Letters|notes.txt|", Children(kGroup));
  EXPECT_EQ(std::vector<std::string>{"C:\\notes.txt"}, Find("notes.txt")->items);
  EXPECT_EQ("Office|Mail|Rules|Filters|Tools|Quillmark|Old sets|Editor|notes.txt|", Checked());
}

TEST_F(SelectionTree, SizeCountsWhatTheBackupWouldCopy) {
  std::string base = temp.Path() + "data";
  CreateDirectoryA(base.c_str(), NULL);
  CreateDirectoryA((base + "\\sub").c_str(), NULL);
  WriteWholeFile(base + "\\a.txt", std::string(10, 'a'));
  WriteWholeFile(base + "\\sub\\b.txt", std::string(20, 'b'));
  WriteWholeFile(temp.Path() + "single.dat", std::string(5, 'c'));
  std::string forward = base;
  for (char& c : forward) c = c == '\\' ? '/' : c;
  ASSERT_TRUE(Load(WizardOperation::Backup,
                   "<backup name=\"Sizes\">\n <var name=\"Base\" value=\"" + base + "\"/>\n"
                   " <item path=\"" + forward + "/\"/>\n"                // the whole tree: 30
                   " <item path=\"($Base)\\*\"/>\n"                     // its own files: 10
                   " <item path=\"" + temp.Path() + "single.dat\"/>\n"  // 5
                   " <item path=\"" + kRoot + "\\Present\\\"/>\n"       // a key: nothing
                   "</backup>\n"
                   "<backup name=\"Unchosen\">\n <item path=\"" + forward + "/\"/>\n</backup>"));
  ClickBox("Unchosen");
  host.tree.MarkSelected();
  CDiskObject disk(false);
  EXPECT_EQ(45u, SelectionSize(catalogue, disk));
}

}  // namespace
