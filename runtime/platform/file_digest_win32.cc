// The CryptoAPI's AES provider hashes: it is the one provider type that
// knows SHA-256 on Windows XP SP3 and every later Windows.
#include <windows.h>

#include "runtime/platform/file_digest.h"
// After windows.h, which it needs.
#include <wincrypt.h>

#include "runtime/platform/system_inspection.h"
#include "runtime/platform/system_library_win32.h"
#include "runtime/platform/wide_text_win32.h"

namespace runtime::platform {
namespace {

constexpr DWORD SHA256_SIZE = 32;

std::string Reason(DWORD code) {
  return SystemErrorText(static_cast<int32_t>(code)) + " (system code " + std::to_string(code) +
         ")";
}

// Releases what the digest acquired, in reverse order.
struct Resources {
  HANDLE file = INVALID_HANDLE_VALUE;
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  ~Resources() {
    if (hash != 0) SYSTEM_CALL(CryptDestroyHash, FALSE, hash);
    if (provider != 0) SYSTEM_CALL(CryptReleaseContext, FALSE, provider, 0ul);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

}  // namespace

FileDigest Sha256OfFile(const std::string& path) {
  FileDigest digest;
  digest.path = path;
  Resources held;
  // Shared for writing and deleting too, so that the program's own file,
  // which the system holds while it runs, can be read. Opened by its wide
  // name: the ANSI code page may lack letters of the path.
  held.file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (held.file == INVALID_HANDLE_VALUE) {
    digest.failure = "the file cannot be opened: " + Reason(GetLastError());
    return digest;
  }
  if (!SYSTEM_CALL(CryptAcquireContextA, FALSE, &held.provider, static_cast<LPCSTR>(nullptr),
                   static_cast<LPCSTR>(nullptr), static_cast<DWORD>(PROV_RSA_AES),
                   static_cast<DWORD>(CRYPT_VERIFYCONTEXT))) {
    held.provider = 0;
    digest.failure =
        "the system offers no SHA-256 (CryptoAPI AES provider): " + Reason(GetLastError());
    return digest;
  }
  if (!SYSTEM_CALL(CryptCreateHash, FALSE, held.provider, static_cast<ALG_ID>(CALG_SHA_256),
                   HCRYPTKEY{0}, 0ul, &held.hash)) {
    held.hash = 0;
    digest.failure = "the system offers no SHA-256: " + Reason(GetLastError());
    return digest;
  }
  BYTE buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(held.file, buffer, sizeof(buffer), &got, nullptr)) {
      digest.failure = "the file cannot be read: " + Reason(GetLastError());
      return digest;
    }
    if (got == 0) break;
    if (!SYSTEM_CALL(CryptHashData, FALSE, held.hash, buffer, got, 0ul)) {
      digest.failure = "the system's SHA-256 failed: " + Reason(GetLastError());
      return digest;
    }
  }
  BYTE value[SHA256_SIZE];
  DWORD size = sizeof(value);
  if (!SYSTEM_CALL(CryptGetHashParam, FALSE, held.hash, static_cast<DWORD>(HP_HASHVAL), value,
                   &size, 0ul) ||
      size != SHA256_SIZE) {
    digest.failure = "the system's SHA-256 gave no result: " + Reason(GetLastError());
    return digest;
  }
  static const char kHex[] = "0123456789abcdef";
  for (BYTE byte : value) {
    digest.sha256 += kHex[byte >> 4];
    digest.sha256 += kHex[byte & 15];
  }
  return digest;
}

FileDigest Sha256OfProgramFile() {
  // The wide name, since an ANSI one shows letters outside the code page
  // as '?' (a name that opens nothing) or as a similar letter (a name that
  // may open another file). The longest path Windows takes, then.
  std::wstring name(32768, L'\0');
  const DWORD capacity = static_cast<DWORD>(name.size());
  // A name that does not fit is cut off without a terminating zero on
  // Windows XP: the length then equals the buffer's.
  const DWORD length = GetModuleFileNameW(nullptr, name.data(), capacity);
  if (length == 0 || length >= capacity) {
    FileDigest digest;
    digest.path = "(unknown)";
    digest.failure = "the program's file name cannot be had: " +
                     (length == 0 ? Reason(GetLastError()) : std::string("it is too long"));
    return digest;
  }
  return Sha256OfFile(Utf8FromWide(name.data(), static_cast<int>(length)));
}

}  // namespace runtime::platform
