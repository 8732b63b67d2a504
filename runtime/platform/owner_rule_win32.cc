#include "runtime/platform/owner_rule_win32.h"

#include <windows.h>

#include <vector>

#include "runtime/platform/system_library_win32.h"

namespace runtime::platform {
namespace {

// NT SERVICE\TrustedInstaller, which owns Windows' own files from Vista on;
// IsWellKnownSid has no name for it on Windows XP.
bool IsTrustedInstaller(PSID sid) {
  static const struct {
    BYTE revision = SID_REVISION;
    BYTE count = 6;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    DWORD parts[6] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
  } kTrustedInstaller;
  return SYSTEM_CALL(EqualSid, FALSE, sid,
                     const_cast<void*>(static_cast<const void*>(&kTrustedInstaller))) != FALSE;
}

// Whether `sid` is the account this process runs as.
bool IsOwnAccount(PSID sid) {
  HANDLE token;
  if (!SYSTEM_CALL(OpenProcessToken, FALSE, GetCurrentProcess(), static_cast<DWORD>(TOKEN_QUERY),
                   &token)) {
    return false;
  }
  // TOKEN_USER and the largest SID there is.
  alignas(DWORD) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  bool own = false;
  if (SYSTEM_CALL(GetTokenInformation, FALSE, token, TokenUser, buffer,
                  static_cast<DWORD>(sizeof(buffer)), &length)) {
    own =
        SYSTEM_CALL(EqualSid, FALSE, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid) != FALSE;
  }
  CloseHandle(token);
  return own;
}

}  // namespace

OwnerClass ClassifyOwner(void* sid) {
  if (sid == nullptr) return OwnerClass::kOtherAccount;
  if (IsOwnAccount(sid)) return OwnerClass::kThisUser;
  if (SYSTEM_CALL(IsWellKnownSid, FALSE, sid, WinBuiltinAdministratorsSid)) {
    return OwnerClass::kAdministrators;
  }
  if (SYSTEM_CALL(IsWellKnownSid, FALSE, sid, WinLocalSystemSid)) return OwnerClass::kSystem;
  if (IsTrustedInstaller(sid)) return OwnerClass::kTrustedInstaller;
  return OwnerClass::kOtherAccount;
}

bool IsTrustedOwner(OwnerClass owner) { return owner != OwnerClass::kOtherAccount; }

const char* OwnerClassWords(OwnerClass owner) {
  switch (owner) {
    case OwnerClass::kThisUser:
      return "this user";
    case OwnerClass::kAdministrators:
      return "Administrators";
    case OwnerClass::kSystem:
      return "SYSTEM";
    case OwnerClass::kTrustedInstaller:
      return "TrustedInstaller";
    case OwnerClass::kOtherAccount:
      break;
  }
  return "another user";
}

bool QueryHandleOwner(void* handle, OwnerClass* owner) {
  std::vector<BYTE> descriptor(256);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD needed = 0;
    if (SYSTEM_CALL(GetKernelObjectSecurity, FALSE, static_cast<HANDLE>(handle),
                    static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION),
                    descriptor.data(), static_cast<DWORD>(descriptor.size()), &needed)) {
      PSID sid = nullptr;
      BOOL defaulted = FALSE;
      if (!SYSTEM_CALL(GetSecurityDescriptorOwner, FALSE, descriptor.data(), &sid, &defaulted) ||
          sid == nullptr) {
        return false;
      }
      *owner = ClassifyOwner(sid);
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) return false;
    descriptor.resize(needed);
  }
  return false;
}

}  // namespace runtime::platform
