#include "wizard/RichText.h"
void AttachRichText(HWND) {}
void SetRichText(HWND control, const std::string& markup) { SetWindowTextA(control, markup.c_str()); }
