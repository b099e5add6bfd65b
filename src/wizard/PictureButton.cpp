#include "wizard/PictureButton.h"
void DrawPictureButton(const DRAWITEMSTRUCT& item, HICON icon, bool toggledDown) {
  DrawFrameControl(item.hDC, (RECT*)&item.rcItem, DFC_BUTTON,
                   DFCS_BUTTONPUSH | (toggledDown ? DFCS_PUSHED : 0));
  char text[64];
  GetWindowTextA(item.hwndItem, text, sizeof text);
  DrawTextA(item.hDC, text, -1, (RECT*)&item.rcItem, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
