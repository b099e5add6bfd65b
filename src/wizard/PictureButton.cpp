#include "wizard/PictureButton.h"

#include <commctrl.h>

#include "base/GdiObject.h"
#include "wizard/Dialog.h"

namespace {

const int kSmallIcon = 16;
const int kLargeIcon = 32;
// Between the icon and the text.
const int kGap = 4;
// Inside the 3-D edge.
const int kPadding = 4;

// What DrawState calls to draw the icon into its own, disabled-looking copy.
BOOL CALLBACK DrawIconScaled(HDC dc, LPARAM icon, WPARAM, int width, int height) {
  return DrawIconEx(dc, 0, 0, reinterpret_cast<HICON>(icon), width, height, 0, NULL, DI_NORMAL);
}

void DrawIcon(HDC dc, HICON icon, int x, int y, int size, bool disabled) {
  if (icon == NULL) return;
  if (!disabled) {
    DrawIconEx(dc, x, y, icon, size, size, 0, NULL, DI_NORMAL);
    return;
  }
  DrawStateA(dc, NULL, &DrawIconScaled, reinterpret_cast<LPARAM>(icon), 0, x, y, size, size,
             DST_COMPLEX | DSS_DISABLED);
}

void DrawLabel(HDC dc, const std::string& text, RECT where, bool disabled) {
  if (text.empty()) return;
  if (!disabled) {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &where, DT_SINGLELINE | DT_LEFT);
    return;
  }
  DrawStateA(dc, NULL, NULL, reinterpret_cast<LPARAM>(text.c_str()),
             static_cast<WPARAM>(text.size()), where.left, where.top, where.right - where.left,
             where.bottom - where.top, DST_PREFIXTEXT | DSS_DISABLED);
}

// The chosen operation stays down with the chequered face of a checked
// button, so that it reads apart from a button only held by the mouse.
void FillToggledFace(HDC dc, RECT face) {
  static const WORD kChequer[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
  CBitmap pattern(CreateBitmap(8, 8, 1, 1, kChequer));
  CBrush brush(CreatePatternBrush(pattern.Get()));
  if (brush.Get() == NULL) return;
  InflateRect(&face, -2, -2);
  // A one-bit pattern takes its colours from the context.
  COLORREF text = SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
  COLORREF back = SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  FillRect(dc, &face, brush.Get());
  SetTextColor(dc, text);
  SetBkColor(dc, back);
}

SIZE LabelSize(HDC dc, const std::string& text) {
  RECT bounds = {0, 0, 0, 0};
  if (!text.empty()) {
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_SINGLELINE | DT_CALCRECT);
  }
  SIZE size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
  return size;
}

// Icon and text centred together in `content`: the icon on top for tall
// buttons, at the left for short ones.
void DrawContent(HDC dc, RECT content, HICON icon, const std::string& text, bool disabled) {
  SIZE label = LabelSize(dc, text);
  int width = content.right - content.left, height = content.bottom - content.top;
  bool tall = height + 2 * kPadding > kTallButtonHeight;
  int iconSize = icon == NULL ? 0 : tall ? kLargeIcon : kSmallIcon;
  int gap = iconSize > 0 && label.cx > 0 ? kGap : 0;
  RECT where;
  if (tall) {
    int top = content.top + (height - iconSize - gap - label.cy) / 2;
    DrawIcon(dc, icon, content.left + (width - iconSize) / 2, top, iconSize, disabled);
    where.left = content.left + (width - label.cx) / 2;
    where.top = top + iconSize + gap;
  } else {
    int left = content.left + (width - iconSize - gap - label.cx) / 2;
    DrawIcon(dc, icon, left, content.top + (height - iconSize) / 2, iconSize, disabled);
    where.left = left + iconSize + gap;
    where.top = content.top + (height - label.cy) / 2;
  }
  where.right = where.left + label.cx;
  where.bottom = where.top + label.cy;
  DrawLabel(dc, text, where, disabled);
}

TOOLINFOA ToolInfo(HWND dialog, HWND control, const std::string* text) {
  TOOLINFOA info = {};
  // The size the first common controls know: the later fields would make
  // Windows 95's tooltips refuse the tool.
  info.cbSize = TTTOOLINFOA_V1_SIZE;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = dialog;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.lpszText = text != nullptr ? const_cast<char*>(text->c_str()) : nullptr;
  return info;
}

}  // namespace

void DrawPictureButton(const DRAWITEMSTRUCT& item, HICON icon, bool toggledDown) {
  HDC dc = item.hDC;
  int saved = SaveDC(dc);
  bool held = (item.itemState & ODS_SELECTED) != 0;
  bool disabled = (item.itemState & ODS_DISABLED) != 0;
  RECT face = item.rcItem;
  DrawFrameControl(dc, &face, DFC_BUTTON,
                   DFCS_BUTTONPUSH | (held || toggledDown ? DFCS_PUSHED : 0));
  if (toggledDown && !held) FillToggledFace(dc, item.rcItem);

  HFONT font = reinterpret_cast<HFONT>(SendMessageA(item.hwndItem, WM_GETFONT, 0, 0));
  if (font != NULL) SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  RECT content = item.rcItem;
  InflateRect(&content, -kPadding, -kPadding);
  // A pressed face's picture sinks with it.
  if (held || toggledDown) OffsetRect(&content, 1, 1);
  DrawContent(dc, content, icon, WindowText(item.hwndItem), disabled);

  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
  RestoreDC(dc, saved);
}

CToolTips::~CToolTips() {
  // The dialog may have taken its tooltip window with it already, and the
  // handle may since name another window.
  if (m_window != NULL && IsWindow(m_window) && GetWindow(m_window, GW_OWNER) == m_dialog) {
    DestroyWindow(m_window);
  }
}

bool CToolTips::Create(HWND dialog) {
  InitCommonControls();
  m_dialog = dialog;
  m_window = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                             NULL, ResourceModule(), NULL);
  return m_window != NULL;
}

void CToolTips::SetTip(int id, const std::string& text) {
  if (text.empty()) {
    ClearTip(id);
    return;
  }
  HWND control = GetDlgItem(m_dialog, id);
  if (m_window == NULL || control == NULL) return;
  TOOLINFOA info = ToolInfo(m_dialog, control, &text);
  if (HasTip(id)) {
    SendMessageA(m_window, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
  } else if (SendMessageA(m_window, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info))) {
    m_tips.insert(id);
  }
}

void CToolTips::ClearTip(int id) {
  if (!HasTip(id)) return;
  m_tips.erase(id);
  HWND control = GetDlgItem(m_dialog, id);
  if (m_window == NULL || control == NULL) return;
  TOOLINFOA info = ToolInfo(m_dialog, control, nullptr);
  SendMessageA(m_window, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

bool CToolTips::HasTip(int id) const { return m_tips.count(id) != 0; }
