// The table of system functions: every entry comes from the system folder,
// forwards included, and a DLL or function that cannot be had behaves as a
// call that failed.
#include "runtime/platform/system_library_win32.h"

#include <windows.h>
// After windows.h, which they need.
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "runtime/platform/owner_rule_win32.h"

namespace runtime::platform {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// The folder of the module that holds `address`, lower case.
std::wstring FolderOfModuleAt(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    return L"";
  }
  wchar_t name[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
  std::wstring path(name, length);
  return Lower(path.substr(0, path.find_last_of(L'\\')));
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return Lower(std::wstring(folder, length));
}

TEST(SystemLibraryTest, EveryEntryResolvesFromTheSystemFolder) {
  wchar_t windows[MAX_PATH];
  const std::wstring side_by_side =
      Lower(std::wstring(windows, GetWindowsDirectoryW(windows, MAX_PATH)) + L"\\winsxs\\");
  for (int index = 0; index < static_cast<int>(SystemFunction::kCount); ++index) {
    const SystemFunctionEntry& entry = kSystemFunctions[index];
    void* address = SystemFunctionAddress(static_cast<SystemFunction>(index));
    ASSERT_NE(address, nullptr) << entry.name;
    const std::wstring folder = FolderOfModuleAt(address);
    // COMCTL32 version 6 lives in the side-by-side store.
    const bool from_store = entry.library == SystemLibrary::kComctl32 &&
                            folder.compare(0, side_by_side.size(), side_by_side) == 0;
    EXPECT_TRUE(folder == SystemFolder() || from_store) << entry.name;
  }
}

TEST(SystemLibraryTest, AForwardIsFoundAndItsTargetNamed) {
  // KERNEL32 forwards its heap calls to NTDLL on every Windows and Wine.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  ExportForward forward;
  ASSERT_TRUE(FindExportForward(kernel, "HeapAlloc", &forward));
  EXPECT_EQ(Lower(forward.library), L"ntdll.dll");
  EXPECT_EQ(forward.function, "RtlAllocateHeap");
  // The forward's own export, and an export nobody has.
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  EXPECT_FALSE(FindExportForward(ntdll, "RtlAllocateHeap", &forward));
  EXPECT_FALSE(FindExportForward(kernel, "WeighNoSuchExport", &forward));
  // Taken through its forward, the address is the target's.
  EXPECT_EQ(SystemLibraryFunction(kernel, "HeapAlloc"),
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlAllocateHeap")));
}

TEST(SystemLibraryTest, AMissingLibraryOrFunctionFailsAsTheCallWould) {
  EXPECT_EQ(LoadSystemLibrary(L"weigh-no-such-library.dll"), nullptr);
  void* user32 = LoadSystemLibrary(L"user32.dll");
  ASSERT_NE(user32, nullptr);
  EXPECT_EQ(SystemLibraryFunction(user32, "WeighNoSuchFunction"), nullptr);

  // The real calls failing, and the same calls without their function.
  BYTE descriptor[256];
  DWORD needed = 0;
  const BOOL real_security = GetFileSecurityW(L"weigh-no-such-file", OWNER_SECURITY_INFORMATION,
                                              descriptor, sizeof(descriptor), &needed);
  SetLastError(0);
  const BOOL missing_security = CallSystemFunctionAt<decltype(&::GetFileSecurityW)>(
      nullptr, FALSE, L"weigh-no-such-file",
      static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION), descriptor,
      static_cast<DWORD>(sizeof(descriptor)), &needed);
  EXPECT_EQ(missing_security, real_security);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  HKEY key = nullptr;
  const LONG real_open =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\weigh-no-such-key", 0, KEY_READ, &key);
  const LONG missing_open = CallSystemFunctionAt<decltype(&::RegOpenKeyExA)>(
      nullptr, static_cast<LONG>(ERROR_PROC_NOT_FOUND), HKEY_LOCAL_MACHINE,
      "SOFTWARE\\weigh-no-such-key", 0ul, static_cast<REGSAM>(KEY_READ), &key);
  EXPECT_NE(real_open, ERROR_SUCCESS);
  EXPECT_NE(missing_open, ERROR_SUCCESS);

  // A box that cannot be shown returns 0, as MessageBoxA does then.
  EXPECT_EQ((CallSystemFunctionAt<decltype(&::MessageBoxA)>(nullptr, 0, HWND{nullptr}, "text",
                                                            "title", 0u)),
            0);
}

// The SID `text` ("S-1-5-18"), freed with the test.
struct Sid {
  explicit Sid(const char* text) { ConvertStringSidToSidA(text, &sid); }
  ~Sid() { LocalFree(sid); }
  PSID sid = nullptr;
};

TEST(OwnerRuleTest, TrustsThisUserAdministratorsSystemAndTrustedInstallerOnly) {
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(DWORD) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length));
  CloseHandle(token);
  char* own_text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &own_text));
  const std::string own(own_text);
  LocalFree(own_text);

  const struct {
    std::string sid;
    OwnerClass owner;
  } cases[] = {
      {own, OwnerClass::kThisUser},
      {"S-1-5-32-544", OwnerClass::kAdministrators},
      {"S-1-5-18", OwnerClass::kSystem},
      {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
       OwnerClass::kTrustedInstaller},
      // Another service, one part off TrustedInstaller.
      {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478465", OwnerClass::kOtherAccount},
      {"S-1-5-21-1004336348-1177238915-682003330-1001", OwnerClass::kOtherAccount},
      {"S-1-1-0", OwnerClass::kOtherAccount},       // Everyone
      {"S-1-5-32-545", OwnerClass::kOtherAccount},  // Users
      {"S-1-5-11", OwnerClass::kOtherAccount},      // Authenticated Users
      {"S-1-5-19", OwnerClass::kOtherAccount},      // LOCAL SERVICE
  };
  for (const auto& one : cases) {
    Sid sid(one.sid.c_str());
    ASSERT_NE(sid.sid, nullptr) << one.sid;
    const OwnerClass owner = ClassifyOwner(sid.sid);
    EXPECT_EQ(owner, one.owner) << one.sid;
    EXPECT_EQ(IsTrustedOwner(owner), one.owner != OwnerClass::kOtherAccount) << one.sid;
  }
  EXPECT_EQ(ClassifyOwner(nullptr), OwnerClass::kOtherAccount);
}

TEST(OwnerRuleTest, TheOwnerOfAnOpenFolderIsRead) {
  wchar_t here[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, here), 0u);
  HANDLE folder = CreateFileW(here, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  OwnerClass owner = OwnerClass::kOtherAccount;
  EXPECT_TRUE(QueryHandleOwner(folder, &owner));
  CloseHandle(folder);
  // The test's own folder: made by this user, or by an administrator.
  EXPECT_TRUE(IsTrustedOwner(owner)) << OwnerClassWords(owner);
}

}  // namespace
}  // namespace runtime::platform
