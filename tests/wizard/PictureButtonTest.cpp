#include "wizard/PictureButton.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "wizard/Canvas.h"
#include "wizard/Resource.h"

namespace {

const int kSmallWidth = 88, kSmallHeight = 24;
const int kTallWidth = 136, kTallHeight = 100;

bool IsRed(COLORREF c) { return c == RGB(255, 0, 0); }
bool IsNearBlack(COLORREF c) { return Brightness(c) < 40; }

// A solid red square icon, so that the tests can tell its pixels apart.
HICON RedIcon() {
  const int size = 32;
  HDC screen = GetDC(NULL);
  HBITMAP colour = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(NULL, screen);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, NULL);
  HDC dc = CreateCompatibleDC(NULL);
  HGDIOBJ previous = SelectObject(dc, colour);
  RECT all = {0, 0, size, size};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, red);
  DeleteObject(red);
  SelectObject(dc, mask);
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));  // opaque
  SelectObject(dc, previous);
  DeleteDC(dc);
  ICONINFO info = {TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(mask);
  return icon;
}

class PictureButtonDrawing : public ::testing::Test {
 protected:
  void SetUp() override { m_icon = RedIcon(); }
  void TearDown() override { DestroyIcon(m_icon); }

  // Draws the button `text` of the canvas's size as its dialog would.
  void Draw(CCanvas& canvas, const char* text, UINT state, bool toggledDown = false,
            bool withIcon = true) {
    HWND button =
        m_window.Child("BUTTON", text, BS_OWNERDRAW, IDC_NEXT, canvas.Width(), canvas.Height());
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.CtlID = IDC_NEXT;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button;
    item.hDC = canvas.Dc();
    SetRect(&item.rcItem, 0, 0, canvas.Width(), canvas.Height());
    DrawPictureButton(item, withIcon ? m_icon : NULL, toggledDown);
    DestroyWindow(button);
  }

  CTestWindow m_window;
  HICON m_icon = NULL;
};

TEST_F(PictureButtonDrawing, RaisedFaceSinksWhenHeldOrToggled) {
  CCanvas raised(kSmallWidth, kSmallHeight), held(kSmallWidth, kSmallHeight),
      toggled(kSmallWidth, kSmallHeight);
  Draw(raised, "Next", 0);
  Draw(held, "Next", ODS_SELECTED);
  Draw(toggled, "Next", 0, true);
  const int right = kSmallWidth - 1, bottom = kSmallHeight - 1;
  EXPECT_GT(Brightness(raised.Pixel(1, 1)), Brightness(raised.Pixel(right - 1, bottom - 1)));
  for (CCanvas* down : {&held, &toggled}) {
    EXPECT_LT(Brightness(down->Pixel(1, 1)), Brightness(down->Pixel(right - 1, bottom - 1)));
  }
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), raised.Pixel(kSmallWidth / 2, 2));
}

TEST_F(PictureButtonDrawing, ToggledFaceDiffersFromAHeldOne) {
  CCanvas held(kSmallWidth, kSmallHeight), toggled(kSmallWidth, kSmallHeight);
  Draw(held, "", ODS_SELECTED, false, false);
  Draw(toggled, "", 0, true, false);
  auto highlight = [](COLORREF c) { return c == GetSysColor(COLOR_BTNHIGHLIGHT); };
  EXPECT_EQ(0, held.Count(highlight, 2)) << "a held face shows light only on its edge";
  EXPECT_GT(toggled.Count(highlight, 2), (kSmallWidth - 4) * (kSmallHeight - 4) / 3);
}

TEST_F(PictureButtonDrawing, SmallButtonPutsTheIconLeftOfTheText) {
  CCanvas canvas(kSmallWidth, kSmallHeight);
  Draw(canvas, "Next", 0);
  RECT icon = canvas.Bounds(IsRed);
  EXPECT_EQ(16, icon.right - icon.left);
  EXPECT_EQ(16, icon.bottom - icon.top);
  // Inside the edge, whose dark shadow would count as text.
  RECT text = canvas.Bounds(IsNearBlack, 3);
  ASSERT_FALSE(IsRectEmpty(&text));
  EXPECT_LT(icon.right, text.left);
  EXPECT_NEAR(kSmallWidth / 2, (icon.left + text.right) / 2, 3)
      << "icon and text are centred together";
}

TEST_F(PictureButtonDrawing, TallButtonPutsALargeIconAboveTheText) {
  CCanvas canvas(kTallWidth, kTallHeight);
  Draw(canvas, "Backup", 0);
  RECT icon = canvas.Bounds(IsRed);
  EXPECT_EQ(32, icon.right - icon.left);
  EXPECT_EQ(32, icon.bottom - icon.top);
  EXPECT_NEAR(kTallWidth / 2, (icon.left + icon.right) / 2, 2);
  RECT text = canvas.Bounds(IsNearBlack, 3);
  ASSERT_FALSE(IsRectEmpty(&text));
  EXPECT_GE(text.top, icon.bottom);
  EXPECT_NEAR(kTallWidth / 2, (text.left + text.right) / 2, 3);
}

TEST_F(PictureButtonDrawing, DisabledButtonGreysTextAndIcon) {
  CCanvas enabled(kSmallWidth, kSmallHeight), disabled(kSmallWidth, kSmallHeight);
  Draw(enabled, "Next", 0);
  Draw(disabled, "Next", ODS_DISABLED);
  EXPECT_GT(enabled.Count(IsNearBlack, 3), 0);
  EXPECT_EQ(0, disabled.Count(IsNearBlack, 3));
  EXPECT_EQ(0, disabled.Count(IsRed));
  auto shadow = [](COLORREF c) { return c == GetSysColor(COLOR_BTNSHADOW); };
  EXPECT_GT(disabled.Count(shadow, 3), enabled.Count(shadow, 3)) << "the grey picture is there";
}

TEST_F(PictureButtonDrawing, FocusRectangleOnlyWithFocus) {
  CCanvas plain(kSmallWidth, kSmallHeight), focused(kSmallWidth, kSmallHeight),
      hidden(kSmallWidth, kSmallHeight);
  Draw(plain, "Next", 0);
  Draw(focused, "Next", ODS_FOCUS);
  Draw(hidden, "Next", ODS_FOCUS | ODS_NOFOCUSRECT);
  int changed = 0, hiddenChanged = 0;
  for (int x = 3; x < kSmallWidth - 3; ++x) {
    changed += plain.Pixel(x, 3) != focused.Pixel(x, 3) ? 1 : 0;
    hiddenChanged += plain.Pixel(x, 3) != hidden.Pixel(x, 3) ? 1 : 0;
  }
  EXPECT_GT(changed, (kSmallWidth - 6) / 3);
  EXPECT_EQ(0, hiddenChanged);
}

class ToolTips : public ::testing::Test {
 protected:
  void SetUp() override {
    m_window.Child("BUTTON", "Next", BS_OWNERDRAW, IDC_NEXT, 80, 20);
    ASSERT_TRUE(m_tips.Create(m_window.Handle()));
  }

  LRESULT Count() { return SendMessageA(m_tips.Handle(), TTM_GETTOOLCOUNT, 0, 0); }

  std::string Text(int id) {
    char text[256] = "";
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.hwnd = m_window.Handle();
    info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_window.Handle(), id));
    info.lpszText = text;
    SendMessageA(m_tips.Handle(), TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
    return text;
  }

  CTestWindow m_window;
  CToolTips m_tips;
};

TEST_F(ToolTips, OneToolPerControlWithItsLatestText) {
  m_tips.SetTip(IDC_NEXT, "Go to the next page");
  EXPECT_EQ(1, Count());
  EXPECT_EQ("Go to the next page", Text(IDC_NEXT));
  m_tips.SetTip(IDC_NEXT, "Start the backup");
  EXPECT_EQ(1, Count());
  EXPECT_EQ("Start the backup", Text(IDC_NEXT));
  EXPECT_TRUE(m_tips.HasTip(IDC_NEXT));
}

TEST_F(ToolTips, EmptyTextOrClearRemovesTheTool) {
  m_tips.SetTip(IDC_NEXT, "Next");
  m_tips.SetTip(IDC_NEXT, "");
  EXPECT_EQ(0, Count());
  EXPECT_FALSE(m_tips.HasTip(IDC_NEXT));
  m_tips.SetTip(IDC_NEXT, "Next");
  m_tips.ClearTip(IDC_NEXT);
  m_tips.ClearTip(IDC_NEXT);
  EXPECT_EQ(0, Count());
}

}  // namespace
