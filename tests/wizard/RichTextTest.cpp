#include "wizard/RichText.h"

#include <gtest/gtest.h>

#include <string>

#include "wizard/Canvas.h"
#include "wizard/Resource.h"

namespace {

const int kWidth = 500;
const int kHeight = 280;

bool IsRed(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) < 70 && GetBValue(c) < 70; }
bool IsDarkBlue(COLORREF c) {
  return GetRValue(c) < 50 && GetGValue(c) < 50 && GetBValue(c) > 90 && GetBValue(c) < 170;
}
bool IsInk(COLORREF c) { return c != RGB(255, 255, 255); }

class RichTextControl : public ::testing::Test {
 protected:
  HWND MakeControl(int width = kWidth, int height = kHeight) {
    return m_window.Child("STATIC", "", SS_LEFT, IDC_TEXT_AREA, width, height);
  }

  // What the control paints, as WM_PRINTCLIENT has it draw into a picture.
  static void Render(HWND control, CCanvas& canvas) {
    SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
  }

  CTestWindow m_window;
};

TEST_F(RichTextControl, KeepsTheMarkupAsItsWindowText) {
  HWND control = MakeControl();
  const std::string markup = "<CENTER><font size=14pt color=red>Please close</font></CENTER>";
  SetRichText(control, markup);
  char text[256] = "";
  GetWindowTextA(control, text, sizeof text);
  EXPECT_EQ(markup, text);
}

TEST_F(RichTextControl, PaintsTheColoursInOrderOnWhite) {
  HWND control = MakeControl();
  SetRichText(control,
              "<font size=14pt color=red face=Arial><b>Please close</b></font><BR><font "
              "size=14pt color=darkblue face=Arial><b>Supports</b></font>");
  CCanvas canvas(kWidth, kHeight);
  Render(control, canvas);
  EXPECT_EQ(RGB(255, 255, 255), canvas.Pixel(0, 0));
  EXPECT_EQ(RGB(255, 255, 255), canvas.Pixel(kWidth - 1, kHeight - 1));
  RECT red = canvas.Bounds(IsRed), blue = canvas.Bounds(IsDarkBlue);
  ASSERT_FALSE(IsRectEmpty(&red));
  ASSERT_FALSE(IsRectEmpty(&blue));
  EXPECT_LE(red.bottom, blue.top) << "the second line is below the first";
  EXPECT_EQ(2, canvas.Bands(IsInk));
}

TEST_F(RichTextControl, ReadsTextSetAnyWayAsMarkup) {
  HWND control = MakeControl();
  AttachRichText(control);
  SetWindowTextA(control, "<font size=14pt color=red><b>Red</b></font>");
  CCanvas canvas(kWidth, kHeight);
  Render(control, canvas);
  EXPECT_GT(canvas.Count(IsRed), 0);
  EXPECT_EQ(0, canvas.Count([](COLORREF c) { return c == RGB(0, 0, 0); }))
      << "the tags are not drawn as text";
}

TEST_F(RichTextControl, CentresOnlyCentredLines) {
  HWND control = MakeControl();
  CCanvas left(kWidth, kHeight), centred(kWidth, kHeight);
  SetRichText(control, "<font size=14pt>Next</font>");
  Render(control, left);
  SetRichText(control, "<CENTER><font size=14pt>Next</font></CENTER>");
  Render(control, centred);
  RECT a = left.Bounds(IsInk), b = centred.Bounds(IsInk);
  EXPECT_LT(a.left, 12);
  EXPECT_NEAR(kWidth / 2, (b.left + b.right) / 2, 4);
  EXPECT_EQ(a.right - a.left, b.right - b.left);

  CCanvas spaced(kWidth, kHeight);
  SetRichText(control, "<CENTER><font size=14pt>Next        </font></CENTER>");
  Render(control, spaced);
  RECT c = spaced.Bounds(IsInk);
  EXPECT_EQ(b.left, c.left) << "trailing spaces take no part in the centring";
}

TEST_F(RichTextControl, WrapsLongLinesBetweenWords) {
  const std::string line = "<font size=12pt>Use this software to backup your settings</font>";
  HWND wide = MakeControl(kWidth, kHeight);
  HWND narrow = MakeControl(150, kHeight);
  SetRichText(wide, line);
  SetRichText(narrow, line);
  CCanvas oneRow(kWidth, kHeight), rows(150, kHeight);
  Render(wide, oneRow);
  Render(narrow, rows);
  EXPECT_EQ(1, oneRow.Bands(IsInk));
  EXPECT_GE(rows.Bands(IsInk), 3);
  RECT ink = rows.Bounds(IsInk);
  EXPECT_LE(ink.right, 150 - 4) << "no row runs past the margin";
}

TEST_F(RichTextControl, ShrinksALineALittleRatherThanWrapIt) {
  const std::string line =
      "<font size=12pt>Use this software to backup your computer settings and data or</font>";
  HWND wide = MakeControl(800, kHeight);
  SetRichText(wide, line);
  CCanvas full(800, kHeight);
  Render(wide, full);
  RECT ink = full.Bounds(IsInk);
  ASSERT_EQ(1, full.Bands(IsInk));
  // Room for the margins and nine tenths of the line.
  int width = (ink.right - ink.left) * 9 / 10 + 2 * 6;
  HWND nearly = MakeControl(width, kHeight);
  HWND half = MakeControl(width / 2, kHeight);
  SetRichText(nearly, line);
  SetRichText(half, line);
  CCanvas shrunk(width, kHeight), wrapped(width / 2, kHeight);
  Render(nearly, shrunk);
  Render(half, wrapped);
  EXPECT_EQ(1, shrunk.Bands(IsInk));
  EXPECT_GE(wrapped.Bands(IsInk), 2);
  RECT wrappedInk = wrapped.Bounds(IsInk);
  EXPECT_GT(wrappedInk.bottom - wrappedInk.top, (ink.bottom - ink.top) * 3 / 2)
      << "too long to shrink: wrapped at the full size";
}

TEST_F(RichTextControl, BreaksAWordLongerThanARow) {
  HWND control = MakeControl(120, kHeight);
  SetRichText(control, "<font size=12pt>C:\\users\\me\\Documents\\Quillmark\\Backup</font>");
  CCanvas canvas(120, kHeight);
  Render(control, canvas);
  EXPECT_GE(canvas.Bands(IsInk), 2);
  EXPECT_LE(canvas.Bounds(IsInk).right, 120 - 4);
}

TEST_F(RichTextControl, ShrinksTextTallerThanTheControlToShowAllOfIt) {
  std::string markup;
  for (int i = 0; i < 8; ++i) markup += "<font size=20pt>Line</font><BR>";
  HWND tall = MakeControl(kWidth, 600);
  HWND shorter = MakeControl(kWidth, 220);
  SetRichText(tall, markup);
  SetRichText(shorter, markup);
  CCanvas roomy(kWidth, 600), tight(kWidth, 220);
  Render(tall, roomy);
  Render(shorter, tight);
  ASSERT_GT(roomy.Bounds(IsInk).bottom, 220) << "the text would not fit at its own size";
  EXPECT_EQ(8, roomy.Bands(IsInk));
  EXPECT_EQ(8, tight.Bands(IsInk));
}

TEST_F(RichTextControl, DrawsTheLogoAndSkipsMissingBitmaps) {
  HBITMAP logo = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_LOGO));
  ASSERT_NE(nullptr, logo);
  BITMAP size = {};
  GetObjectA(logo, sizeof size, &size);
  DeleteObject(logo);

  HWND control = MakeControl();
  CCanvas canvas(kWidth, kHeight), missing(kWidth, kHeight);
  SetRichText(control, "<CENTER><bmp idres=1010></CENTER>");
  Render(control, canvas);
  RECT ink = canvas.Bounds(IsInk);
  ASSERT_FALSE(IsRectEmpty(&ink));
  EXPECT_LE(ink.right - ink.left, size.bmWidth);
  EXPECT_LE(ink.bottom - ink.top, size.bmHeight);
  EXPECT_NEAR(kWidth / 2, (ink.left + ink.right) / 2, size.bmWidth / 2);

  SetRichText(control, "<bmp idres=999>");
  Render(control, missing);
  EXPECT_EQ(0, missing.Count(IsInk));
}

}  // namespace
