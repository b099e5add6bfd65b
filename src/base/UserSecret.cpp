#include "base/UserSecret.h"

#include <windows.h>
#include <wincrypt.h>

#include "base/Win32Handle.h"

namespace {

typedef BOOL(WINAPI* ProtectFunction)(DATA_BLOB* data, LPCWSTR description, DATA_BLOB* entropy,
                                      PVOID reserved, CRYPTPROTECT_PROMPTSTRUCT* prompt,
                                      DWORD flags, DATA_BLOB* sealed);
typedef BOOL(WINAPI* UnprotectFunction)(DATA_BLOB* sealed, LPWSTR* description,
                                        DATA_BLOB* entropy, PVOID reserved,
                                        CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags,
                                        DATA_BLOB* data);

// What a user would see if a tool listed the sealed data.
const wchar_t kDescription[] = L"Quillmark";

CLibraryOnDemand g_crypt("crypt32.dll");

bool Runs95Family() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The system reads from the blob only.
DATA_BLOB BlobOf(const std::string& bytes) {
  DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return blob;
}

// A block the system hands out: wiped (it may hold the secret itself) and
// given back on every path.
class CSystemBlob {
 public:
  CSystemBlob() = default;
  CSystemBlob(const CSystemBlob&) = delete;
  CSystemBlob& operator=(const CSystemBlob&) = delete;
  ~CSystemBlob() {
    if (m_blob.pbData == nullptr) return;
    SecureZeroMemory(m_blob.pbData, m_blob.cbData);
    LocalFree(m_blob.pbData);
  }
  DATA_BLOB* Receive() { return &m_blob; }
  std::string Bytes() const {
    return std::string(reinterpret_cast<const char*>(m_blob.pbData), m_blob.cbData);
  }

 private:
  DATA_BLOB m_blob = {0, nullptr};
};

}  // namespace

bool CanProtectForUser() {
  return !Runs95Family() && g_crypt.Find<ProtectFunction>("CryptProtectData") != nullptr &&
         g_crypt.Find<UnprotectFunction>("CryptUnprotectData") != nullptr;
}

std::optional<std::string> ProtectForUser(const std::string& secret, const std::string& purpose) {
  ProtectFunction protect = g_crypt.Find<ProtectFunction>("CryptProtectData");
  if (protect == nullptr) return std::nullopt;
  DATA_BLOB data = BlobOf(secret);
  DATA_BLOB entropy = BlobOf(purpose);
  CSystemBlob sealed;
  // A scheduled run has nobody to answer a prompt, so none may be shown.
  if (!protect(&data, kDescription, &entropy, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN,
               sealed.Receive()))
    return std::nullopt;
  return sealed.Bytes();
}

std::optional<std::string> UnprotectForUser(const std::string& sealed, const std::string& purpose) {
  UnprotectFunction unprotect = g_crypt.Find<UnprotectFunction>("CryptUnprotectData");
  if (unprotect == nullptr || sealed.empty()) return std::nullopt;
  DATA_BLOB data = BlobOf(sealed);
  DATA_BLOB entropy = BlobOf(purpose);
  CSystemBlob secret;
  if (!unprotect(&data, NULL, &entropy, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, secret.Receive()))
    return std::nullopt;
  return secret.Bytes();
}
