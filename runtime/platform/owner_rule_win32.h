#ifndef WEIGH_RUNTIME_PLATFORM_OWNER_RULE_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_OWNER_RULE_WIN32_H_

// Shared by the Win32 backends only: the one rule for whose files, folders
// and links the program trusts on Windows.

#include <string>

namespace runtime::platform {

// The owner of a file, folder or link, as the rule sees it.
enum class OwnerClass {
  kThisUser,          // the account this process runs as
  kAdministrators,    // the Administrators group (S-1-5-32-544)
  kSystem,            // the system's own account (S-1-5-18)
  kTrustedInstaller,  // the Windows installer's service (S-1-5-80-956008885-...)
  kOtherAccount,      // anyone else, every group of ordinary users included
};

// The class of the security identifier `sid` (a PSID).
OwnerClass ClassifyOwner(void* sid);

// True for every class but kOtherAccount: this user, or an account that
// can change the system anyway.
bool IsTrustedOwner(OwnerClass owner);

// The class in words for a report ("this user", "Administrators"...).
const char* OwnerClassWords(OwnerClass owner);

// The class of the owner of what the open handle `handle` (a HANDLE opened
// with READ_CONTROL) refers to; false when the system does not tell.
bool QueryHandleOwner(void* handle, OwnerClass* owner);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_OWNER_RULE_WIN32_H_
