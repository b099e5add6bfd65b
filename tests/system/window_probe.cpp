// A program with one visible top-level window, standing in for a running
// program the catalogue knows.
//   window_probe           closes when its window is asked to (WM_CLOSE)
//   window_probe stubborn  ignores WM_CLOSE and must be ended by force
// Either way it ends by itself after a minute, so a test that fails half-way
// leaves nothing behind for long.
#include <windows.h>

#include <cstring>

namespace {

const UINT_PTR kLifeTimer = 1;
const UINT kLifetime = 60000;
const UINT kOutlived = 3;
bool g_stubborn = false;

LRESULT CALLBACK ProbeWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      if (g_stubborn) return 0;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      ExitProcess(kOutlived);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  g_stubborn = argc > 1 && std::strcmp(argv[1], "stubborn") == 0;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ProbeWindow;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "QmWindowProbe";
  if (!RegisterClassA(&windowClass)) return 2;
  HWND window = CreateWindowA("QmWindowProbe", "Probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              200, 100, NULL, NULL, windowClass.hInstance, NULL);
  if (window == NULL) return 2;
  SetTimer(window, kLifeTimer, kLifetime, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
