#include "base/ComHandle.h"

#include "base/Win32Handle.h"

namespace {

CLibraryOnDemand g_ole("ole32.dll");

}  // namespace

HRESULT StartCom() {
  auto start = g_ole.Find<decltype(&CoInitialize)>("CoInitialize");
  return start != nullptr ? start(NULL) : E_NOTIMPL;
}

void StopCom() {
  auto stop = g_ole.Find<decltype(&CoUninitialize)>("CoUninitialize");
  if (stop != nullptr) stop();
}

HRESULT CreateComObject(REFCLSID type, DWORD context, REFIID interfaceId, void** object) {
  *object = nullptr;
  auto create = g_ole.Find<decltype(&CoCreateInstance)>("CoCreateInstance");
  return create != nullptr ? create(type, NULL, context, interfaceId, object) : E_NOTIMPL;
}
