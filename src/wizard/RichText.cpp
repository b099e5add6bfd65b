#include "wizard/RichText.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "base/GdiObject.h"
#include "wizard/Dialog.h"
#include "wizard/RichTextMarkup.h"

namespace {

// The control's state hangs on a window property: the static control keeps
// its own GWLP_USERDATA free for the dialog, and a property is found from
// the window alone on every Windows the program runs on.
const char kStateProperty[] = "Quillmark.RichText";
// Room kept free between the text and the control's edges.
const int kMargin = 6;
// When the text is taller than the control its fonts shrink in these steps
// down to this size rather than lose the lines at the bottom.
const int kScaleStep = 5;
const int kSmallestScale = 60;
// Down to this size a line is shrunk rather than wrapped.
const int kSmallestUnwrappedScale = 85;
const char kFallbackFace[] = "MS Sans Serif";

struct CRichTextState {
  WNDPROC previous = nullptr;
  std::vector<RichTextLine> lines;
};

CRichTextState* StateOf(HWND window) {
  return static_cast<CRichTextState*>(GetPropA(window, kStateProperty));
}

// The fonts and bitmaps of one paint, each made once however many runs use
// it, and all given back when the paint is done.
class CDrawingObjects {
 public:
  struct CFontEntry {
    RichTextFont style;
    CFont font;
    int ascent = 0;
    int descent = 0;
  };
  struct CBitmapEntry {
    int id = 0;
    CBitmap bitmap;
    SIZE size = {0, 0};
  };

  CDrawingObjects(HDC dc, std::string defaultFace, int scalePercent)
      : m_dc(dc), m_defaultFace(std::move(defaultFace)), m_scale(scalePercent) {}

  const CFontEntry& Font(const RichTextFont& style) {
    for (const CFontEntry& entry : m_fonts) {
      if (entry.style == style) return entry;
    }
    LOGFONTA description = {};
    description.lfHeight =
        -MulDiv(style.pointSize * m_scale, GetDeviceCaps(m_dc, LOGPIXELSY), 72 * 100);
    description.lfWeight = style.bold ? FW_BOLD : FW_NORMAL;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    const std::string& face = style.face.empty() ? m_defaultFace : style.face;
    std::strncpy(description.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    CFontEntry entry;
    entry.style = style;
    entry.font.Reset(CreateFontIndirectA(&description));
    TEXTMETRICA metrics = {};
    CSelection selection(m_dc, entry.font.Get());
    if (GetTextMetricsA(m_dc, &metrics)) {
      entry.ascent = metrics.tmAscent;
      entry.descent = metrics.tmDescent;
    }
    m_fonts.push_back(std::move(entry));
    return m_fonts.back();
  }

  // An entry without a bitmap when the program has none of that id.
  const CBitmapEntry& Bitmap(int id) {
    for (const CBitmapEntry& entry : m_bitmaps) {
      if (entry.id == id) return entry;
    }
    CBitmapEntry entry;
    entry.id = id;
    entry.bitmap.Reset(LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(id)));
    BITMAP header = {};
    if (entry.bitmap.Get() != NULL && GetObjectA(entry.bitmap.Get(), sizeof header, &header)) {
      entry.size.cx = header.bmWidth;
      entry.size.cy = header.bmHeight;
    }
    m_bitmaps.push_back(std::move(entry));
    return m_bitmaps.back();
  }

  int TextWidth(const CFontEntry& font, const std::string& text) {
    CSelection selection(m_dc, font.font.Get());
    SIZE size = {0, 0};
    GetTextExtentPoint32A(m_dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
  }

  // How many of the first characters of `text` fit in `width`; at least one,
  // so that a row always moves on.
  size_t Fitting(const CFontEntry& font, const std::string& text, int width) {
    CSelection selection(m_dc, font.font.Get());
    int fit = 0;
    SIZE size = {0, 0};
    GetTextExtentExPointA(m_dc, text.c_str(), static_cast<int>(text.size()), width, &fit, nullptr,
                          &size);
    return fit < 1 ? 1 : static_cast<size_t>(fit);
  }

 private:
  HDC m_dc;
  std::string m_defaultFace;
  int m_scale;
  // Entries stay where they are as others are added: callers keep them.
  std::deque<CFontEntry> m_fonts;
  std::deque<CBitmapEntry> m_bitmaps;
};

// One word or more of a run, or a bitmap, where a row puts it.
struct CPiece {
  const RichTextRun* run = nullptr;
  std::string text;
  int x = 0;
  int width = 0;
  int ascent = 0;
};

struct CRow {
  bool centred = false;
  std::vector<CPiece> pieces;
  // Up to the end of the last piece's ink, without its trailing spaces.
  int inkWidth = 0;
  int width = 0;
  int ascent = 0;
  int descent = 0;
};

// Splits the lines into rows no wider than `width`, breaking after spaces,
// and inside a word only when the word alone is wider than a row.
class CRowBuilder {
 public:
  CRowBuilder(CDrawingObjects& objects, int width) : m_objects(objects), m_width(width) {}

  void Line(const RichTextLine& line) {
    m_row = CRow();
    m_row.centred = line.centred;
    for (const RichTextRun& run : line.runs) {
      if (run.IsBitmap()) {
        Bitmap(run);
      } else {
        Text(run);
      }
    }
    if (m_row.pieces.empty()) {
      const CDrawingObjects::CFontEntry& font = m_objects.Font(line.font);
      m_row.ascent = font.ascent;
      m_row.descent = font.descent;
    }
    EndRow();
  }

  std::vector<CRow> Rows() { return std::move(m_rows); }
  // Whether a line had to go on over more than one row.
  bool Wrapped() const { return m_wrapped; }

 private:
  void Bitmap(const RichTextRun& run) {
    SIZE size = m_objects.Bitmap(run.bitmapId).size;
    if (size.cx <= 0 || size.cy <= 0) return;
    if (!m_row.pieces.empty() && m_row.width + size.cx > m_width) NextRow();
    CPiece piece;
    piece.run = &run;
    piece.x = m_row.width;
    piece.width = size.cx;
    piece.ascent = size.cy;
    Add(std::move(piece), size.cx, 0);
  }

  void Text(const RichTextRun& run) {
    const CDrawingObjects::CFontEntry& font = m_objects.Font(run.font);
    const std::string& text = run.text;
    for (size_t start = 0; start < text.size();) {
      size_t end = WordEnd(text, start);
      std::string word = text.substr(start, end - start);
      std::string ink = word.substr(0, word.find_last_not_of(' ') + 1);
      int inkWidth = m_objects.TextWidth(font, ink);
      if (!m_row.pieces.empty() && m_row.width + inkWidth > m_width) NextRow();
      if (m_row.pieces.empty() && inkWidth > m_width) {
        // Too long for any row: as much as fits, and the rest on the next.
        end = start + m_objects.Fitting(font, word, m_width);
        word = text.substr(start, end - start);
        ink = word;
      }
      Append(run, font, word, ink);
      start = end;
    }
  }

  // After the word at `start` and the spaces that follow it.
  static size_t WordEnd(const std::string& text, size_t start) {
    size_t end = text.find_first_not_of(' ', start);
    if (end == std::string::npos) return text.size();
    end = text.find(' ', end);
    if (end == std::string::npos) return text.size();
    end = text.find_first_not_of(' ', end);
    return end == std::string::npos ? text.size() : end;
  }

  // Words of one run on one row are one piece, measured whole, so that the
  // row is as wide as the text drawn in one go.
  void Append(const RichTextRun& run, const CDrawingObjects::CFontEntry& font,
              const std::string& word, const std::string& ink) {
    if (!m_row.pieces.empty() && m_row.pieces.back().run == &run) {
      CPiece& last = m_row.pieces.back();
      m_row.inkWidth = last.x + m_objects.TextWidth(font, last.text + ink);
      last.text += word;
      last.width = m_objects.TextWidth(font, last.text);
      m_row.width = last.x + last.width;
      return;
    }
    CPiece piece;
    piece.run = &run;
    piece.text = word;
    piece.x = m_row.width;
    piece.width = m_objects.TextWidth(font, word);
    piece.ascent = font.ascent;
    Add(std::move(piece), m_objects.TextWidth(font, ink), font.descent);
  }

  // `inkWidth`: how much of the piece's width is not trailing space.
  void Add(CPiece piece, int inkWidth, int descent) {
    m_row.ascent = std::max(m_row.ascent, piece.ascent);
    m_row.descent = std::max(m_row.descent, descent);
    m_row.width = piece.x + piece.width;
    m_row.inkWidth = piece.x + inkWidth;
    m_row.pieces.push_back(std::move(piece));
  }

  void NextRow() {
    m_wrapped = true;
    bool centred = m_row.centred;
    EndRow();
    m_row = CRow();
    m_row.centred = centred;
  }

  void EndRow() { m_rows.push_back(std::move(m_row)); }

  CDrawingObjects& m_objects;
  int m_width;
  CRow m_row;
  std::vector<CRow> m_rows;
  bool m_wrapped = false;
};

int Height(const std::vector<CRow>& rows) {
  int height = 0;
  for (const CRow& row : rows) height += row.ascent + row.descent;
  return height;
}

void DrawPiece(HDC dc, CDrawingObjects& objects, const CPiece& piece, int x, int baseline) {
  if (piece.run->IsBitmap()) {
    const CDrawingObjects::CBitmapEntry& bitmap = objects.Bitmap(piece.run->bitmapId);
    CMemoryDC source(dc);
    CSelection selection(source.Get(), bitmap.bitmap.Get());
    BitBlt(dc, x, baseline - bitmap.size.cy, bitmap.size.cx, bitmap.size.cy, source.Get(), 0, 0,
           SRCCOPY);
    return;
  }
  const CDrawingObjects::CFontEntry& font = objects.Font(piece.run->font);
  const RichTextColour& colour = piece.run->font.colour;
  CSelection selection(dc, font.font.Get());
  SetTextColor(dc, RGB(colour.red, colour.green, colour.blue));
  TextOutA(dc, x, baseline - font.ascent, piece.text.c_str(), static_cast<int>(piece.text.size()));
}

// The face of the control's own font, for text that names none.
std::string DefaultFace(HWND control) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  LOGFONTA description = {};
  if (font == NULL || !GetObjectA(font, sizeof description, &description)) return kFallbackFace;
  const char* face = description.lfFaceName;
  std::string name(face, std::find(face, face + LF_FACESIZE, '\0'));
  return name.empty() ? kFallbackFace : name;
}

struct CLayout {
  std::unique_ptr<CDrawingObjects> objects;
  std::vector<CRow> rows;
  bool wrapped = false;
};

CLayout Layout(HDC dc, const std::string& face, int scale, int width,
               const std::vector<RichTextLine>& lines) {
  CLayout layout;
  layout.objects = std::make_unique<CDrawingObjects>(dc, face, scale);
  CRowBuilder builder(*layout.objects, width);
  for (const RichTextLine& line : lines) builder.Line(line);
  layout.wrapped = builder.Wrapped();
  layout.rows = builder.Rows();
  return layout;
}

// The largest size at which everything fits the control's height. A
// paragraph's line is rather shown a little smaller than wrapped, since
// the texts break their lines where they mean to.
CLayout BestLayout(HDC dc, const std::string& face, int width, int height,
                   const std::vector<RichTextLine>& lines) {
  CLayout fitting;
  for (int scale = 100; scale >= kSmallestScale; scale -= kScaleStep) {
    CLayout layout = Layout(dc, face, scale, width, lines);
    bool fits = Height(layout.rows) <= height;
    if (fits && !layout.wrapped) return layout;
    if (fits && fitting.objects == nullptr) fitting = std::move(layout);
    if (fitting.objects != nullptr && scale <= kSmallestUnwrappedScale) return fitting;
    if (scale - kScaleStep < kSmallestScale && fitting.objects == nullptr) return layout;
  }
  return fitting;
}

void Paint(HWND control, HDC dc, const CRichTextState& state) {
  RECT client;
  GetClientRect(control, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  int width = client.right - client.left - 2 * kMargin;
  int height = client.bottom - client.top - 2 * kMargin;
  if (width <= 0 || height <= 0) return;
  CLayout layout = BestLayout(dc, DefaultFace(control), width, height, state.lines);
  int oldMode = SetBkMode(dc, TRANSPARENT);
  COLORREF oldColour = GetTextColor(dc);
  int y = client.top + kMargin;
  for (const CRow& row : layout.rows) {
    int left = client.left + kMargin + (row.centred ? (width - row.inkWidth) / 2 : 0);
    for (const CPiece& piece : row.pieces) {
      DrawPiece(dc, *layout.objects, piece, left + piece.x, y + row.ascent);
    }
    y += row.ascent + row.descent;
  }
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
}

// Paints into a bitmap first, so that the white background and the text
// reach the screen at once instead of flickering on every repaint.
void PaintBuffered(HWND control, HDC target, const CRichTextState& state) {
  RECT client;
  GetClientRect(control, &client);
  CMemoryDC buffer(target);
  CBitmap picture(CreateCompatibleBitmap(target, client.right, client.bottom));
  if (buffer.Get() == NULL || picture.Get() == NULL) {
    Paint(control, target, state);
    return;
  }
  CSelection selection(buffer.Get(), picture.Get());
  Paint(control, buffer.Get(), state);
  BitBlt(target, 0, 0, client.right, client.bottom, buffer.Get(), 0, 0, SRCCOPY);
}

// Nothing may leave a window procedure as an exception.
template <typename Action>
void Guarded(Action action) {
  try {
    action();
  } catch (...) {
  }
}

LRESULT CALLBACK RichTextProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CRichTextState* state = StateOf(window);
  if (state == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      Guarded([&] { PaintBuffered(window, dc, *state); });
      EndPaint(window, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Guarded([&] { Paint(window, reinterpret_cast<HDC>(wParam), *state); });
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      // Only the text is stored: the static control's own handler would
      // draw the raw markup before the repaint covers it.
      LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      const char* text = reinterpret_cast<const char*>(lParam);
      Guarded([&] { state->lines = ParseRichText(text != nullptr ? text : ""); });
      InvalidateRect(window, NULL, FALSE);
      return result;
    }
    case WM_SIZE:
      InvalidateRect(window, NULL, FALSE);
      break;
    case WM_NCDESTROY: {
      WNDPROC previous = state->previous;
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      RemovePropA(window, kStateProperty);
      delete state;
      return CallWindowProcA(previous, window, message, wParam, lParam);
    }
  }
  return CallWindowProcA(state->previous, window, message, wParam, lParam);
}

}  // namespace

void AttachRichText(HWND staticControl) {
  if (staticControl == NULL || StateOf(staticControl) != nullptr) return;
  auto state = std::make_unique<CRichTextState>();
  state->previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(staticControl, GWLP_WNDPROC));
  state->lines = ParseRichText(WindowText(staticControl));
  if (!SetPropA(staticControl, kStateProperty, state.get())) return;
  SetWindowLongPtrA(staticControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RichTextProcedure));
  state.release();
  InvalidateRect(staticControl, NULL, FALSE);
}

void SetRichText(HWND staticControl, const std::string& markup) {
  AttachRichText(staticControl);
  SetWindowTextA(staticControl, markup.c_str());
}
