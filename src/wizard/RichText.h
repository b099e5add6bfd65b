// Stand-in until the rich-text display lands.
#pragma once
#include <windows.h>
#include <string>
void AttachRichText(HWND staticControl);
void SetRichText(HWND staticControl, const std::string& markup);
