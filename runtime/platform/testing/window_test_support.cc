// The parts of the test windows and the box answerer that are the same on
// every platform; each backend has the rest.
#include "runtime/platform/testing/window_test_support.h"

namespace runtime::platform {

MessageBoxAnswerer::MessageBoxAnswerer(std::string title, Answer answer,
                                       std::function<void(WindowHandle box)> while_shown)
    : title_(std::move(title)), answer_(answer), while_shown_(std::move(while_shown)) {
  thread_ = std::make_unique<TestThread>([this] { Run(); });
}

MessageBoxAnswerer::~MessageBoxAnswerer() { Finish(); }

bool MessageBoxAnswerer::Finish() {
  stop_ = true;
  if (thread_ != nullptr) thread_->Join();
  return answered_;
}

}  // namespace runtime::platform
