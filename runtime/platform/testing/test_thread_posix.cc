#include "runtime/platform/testing/test_thread.h"

#include <pthread.h>

#include <cstdlib>

namespace runtime::platform {

struct TestThread::Running {
  std::function<void()> body;
  pthread_t thread{};
  bool joinable = false;
};

namespace {

void* RunBody(void* running) {
  static_cast<TestThread::Running*>(running)->body();
  return nullptr;
}

}  // namespace

TestThread::TestThread(std::function<void()> body) : running_(new Running{std::move(body)}) {
  if (pthread_create(&running_->thread, nullptr, RunBody, running_.get()) != 0) std::abort();
  running_->joinable = true;
}

TestThread::~TestThread() { Join(); }

void TestThread::Join() {
  if (!running_->joinable) return;
  pthread_join(running_->thread, nullptr);
  running_->joinable = false;
}

}  // namespace runtime::platform
