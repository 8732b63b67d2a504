#include "runtime/platform/testing/test_child.h"

#include <windows.h>

#include <vector>

namespace runtime::platform {
namespace {

constexpr DWORD kWaitLimitMs = 60000;

class Win32Child : public TestChild {
 public:
  Win32Child(HANDLE process, HANDLE thread) : process_(process), thread_(thread) {}
  ~Win32Child() override {
    if (process_ != nullptr) {
      TerminateProcess(process_, 255);
      WaitForSingleObject(process_, INFINITE);
      Release();
    }
  }

  int Wait() override {
    if (process_ == nullptr) return -1;
    int result = -1;
    if (WaitForSingleObject(process_, kWaitLimitMs) == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (GetExitCodeProcess(process_, &code)) result = static_cast<int>(code);
    } else {
      TerminateProcess(process_, 255);
      WaitForSingleObject(process_, INFINITE);
    }
    Release();
    return result;
  }

 private:
  void Release() {
    CloseHandle(thread_);
    CloseHandle(process_);
    process_ = nullptr;
    thread_ = nullptr;
  }

  HANDLE process_;
  HANDLE thread_;
};

}  // namespace

std::unique_ptr<TestChild> TestChild::Start(const std::string& task, std::string* why_not) {
  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *why_not = "cannot find this program";
    return nullptr;
  }
  std::string quoted = std::string("\"") + program + "\"";
  std::vector<char> command_line(quoted.begin(), quoted.end());
  command_line.push_back('\0');

  // The child inherits this environment: set the task just for its start.
  SetEnvironmentVariableA(kTestChildVariable, task.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  BOOL ok = CreateProcessA(program, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &started);
  DWORD error = GetLastError();
  SetEnvironmentVariableA(kTestChildVariable, nullptr);
  if (!ok) {
    *why_not = "cannot start " + std::string(program) + ": error " + std::to_string(error);
    return nullptr;
  }
  return std::make_unique<Win32Child>(started.hProcess, started.hThread);
}

int RunTestChild(const std::string& task) {
  std::string why_not;
  std::unique_ptr<TestChild> child = TestChild::Start(task, &why_not);
  return child == nullptr ? -1 : child->Wait();
}

}  // namespace runtime::platform
