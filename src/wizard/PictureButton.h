// Stand-in until the drawn buttons land.
#pragma once
#include <windows.h>
#include <string>
void DrawPictureButton(const DRAWITEMSTRUCT& item, HICON icon, bool toggledDown);
class CToolTips {
 public:
  void Create(HWND dialog) {}
  void SetText(int id, const std::string& text) {}
  void Clear(int id) {}
};
