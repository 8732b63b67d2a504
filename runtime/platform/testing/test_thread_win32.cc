#include "runtime/platform/testing/test_thread.h"

#include <windows.h>

#include <cstdlib>

namespace runtime::platform {

struct TestThread::Running {
  std::function<void()> body;
  HANDLE thread = nullptr;
};

namespace {

DWORD WINAPI RunBody(void* running) {
  static_cast<TestThread::Running*>(running)->body();
  return 0;
}

}  // namespace

TestThread::TestThread(std::function<void()> body) : running_(new Running{std::move(body)}) {
  running_->thread = CreateThread(nullptr, 0, RunBody, running_.get(), 0, nullptr);
  if (running_->thread == nullptr) std::abort();
}

TestThread::~TestThread() { Join(); }

void TestThread::Join() {
  if (running_->thread == nullptr) return;
  WaitForSingleObject(running_->thread, INFINITE);
  CloseHandle(running_->thread);
  running_->thread = nullptr;
}

}  // namespace runtime::platform
