// A 32-bit picture in memory that the drawing tests paint into and then
// read pixel by pixel, and the windows they paint.
#pragma once

#include <windows.h>

#include <functional>

class CCanvas {
 public:
  CCanvas(int width, int height) : m_width(width), m_height(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_dc = CreateCompatibleDC(NULL);
    m_bitmap =
        CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), NULL, 0);
    m_previous = SelectObject(m_dc, m_bitmap);
    RECT all = {0, 0, width, height};
    FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
  }
  CCanvas(const CCanvas&) = delete;
  CCanvas& operator=(const CCanvas&) = delete;
  ~CCanvas() {
    SelectObject(m_dc, m_previous);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
  }

  HDC Dc() const { return m_dc; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

  COLORREF Pixel(int x, int y) const {
    GdiFlush();
    DWORD value = m_bits[y * m_width + x];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
  }

  // The smallest rectangle holding every pixel that `wanted` accepts, `inset`
  // pixels or more from the edges; empty when there is none.
  RECT Bounds(const std::function<bool(COLORREF)>& wanted, int inset = 0) const {
    RECT bounds = {m_width, m_height, 0, 0};
    for (int y = inset; y < m_height - inset; ++y) {
      for (int x = inset; x < m_width - inset; ++x) {
        if (!wanted(Pixel(x, y))) continue;
        if (x < bounds.left) bounds.left = x;
        if (y < bounds.top) bounds.top = y;
        if (x + 1 > bounds.right) bounds.right = x + 1;
        if (y + 1 > bounds.bottom) bounds.bottom = y + 1;
      }
    }
    if (bounds.right == 0) SetRectEmpty(&bounds);
    return bounds;
  }

  int Count(const std::function<bool(COLORREF)>& wanted, int inset = 0) const {
    int count = 0;
    for (int y = inset; y < m_height - inset; ++y) {
      for (int x = inset; x < m_width - inset; ++x) count += wanted(Pixel(x, y)) ? 1 : 0;
    }
    return count;
  }

  // Bands of rows with some accepted pixel, parted by rows with none.
  int Bands(const std::function<bool(COLORREF)>& wanted) const {
    int bands = 0;
    bool inBand = false;
    for (int y = 0; y < m_height; ++y) {
      bool any = false;
      for (int x = 0; x < m_width && !any; ++x) any = wanted(Pixel(x, y));
      if (any && !inBand) ++bands;
      inBand = any;
    }
    return bands;
  }

 private:
  int m_width, m_height;
  HDC m_dc;
  HBITMAP m_bitmap;
  HGDIOBJ m_previous;
  DWORD* m_bits = nullptr;
};

inline int Brightness(COLORREF colour) {
  return (GetRValue(colour) + GetGValue(colour) + GetBValue(colour)) / 3;
}

// A hidden window standing in for the dialog, destroyed with the test.
class CTestWindow {
 public:
  CTestWindow() {
    m_window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
  }
  CTestWindow(const CTestWindow&) = delete;
  CTestWindow& operator=(const CTestWindow&) = delete;
  ~CTestWindow() { DestroyWindow(m_window); }

  HWND Handle() const { return m_window; }
  HWND Child(const char* windowClass, const char* text, DWORD style, int id, int width,
             int height) const {
    return CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, width, height,
                           m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(NULL), NULL);
  }

 private:
  HWND m_window;
};
