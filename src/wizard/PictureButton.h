// The wizard's picture buttons and their tooltips. The buttons are
// BS_OWNERDRAW: the dialog answers WM_DRAWITEM with DrawPictureButton, so
// that they look the same on every Windows from 95 on, icon and all.
#pragma once

#include <windows.h>

#include <set>
#include <string>

// Buttons taller than this are the operation buttons, with the icon above
// the text; shorter ones are the navigation buttons, icon left of the text.
const int kTallButtonHeight = 40;

// Draws a raised face, pressed while the mouse holds the button or while
// `toggledDown` (the operation chosen), grey when disabled, with the focus
// rectangle when it has the focus. The text is the button's window text,
// in its font. `icon` may be NULL; it is drawn at 16 x 16 on short buttons
// and 32 x 32 on tall ones, whatever size it was loaded at.
void DrawPictureButton(const DRAWITEMSTRUCT& item, HICON icon, bool toggledDown);

// One tooltip window for a dialog, with a tip per control, shown as the
// mouse rests on the control.
class CToolTips {
 public:
  CToolTips() = default;
  CToolTips(const CToolTips&) = delete;
  CToolTips& operator=(const CToolTips&) = delete;
  ~CToolTips();

  // False when the tooltip window can't be made; the tips are then only
  // missing, the dialog works without them.
  bool Create(HWND dialog);
  HWND Handle() const { return m_window; }

  // Gives the control `id` of the dialog this tip, or another one in place
  // of the tip it had; an empty text removes its tip.
  void SetTip(int id, const std::string& text);
  void ClearTip(int id);
  bool HasTip(int id) const;

 private:
  HWND m_window = NULL;
  HWND m_dialog = NULL;
  // The controls that have a tip. Asking the tooltip window instead means
  // handing it a text buffer that it fills without knowing its size.
  std::set<int> m_tips;
};
