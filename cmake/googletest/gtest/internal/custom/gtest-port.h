// Found before GoogleTest's own, empty, file of this name when GoogleTest is
// built for Windows with the "win32" threads compiler, whose C++ library has
// no std::mutex or std::condition_variable. GoogleTest keeps its Windows
// locks; only its Notification, which it uses for its own tests alone, is
// replaced by one that needs neither.
#ifndef WEIGH_CMAKE_GOOGLETEST_CUSTOM_GTEST_PORT_H_
#define WEIGH_CMAKE_GOOGLETEST_CUSTOM_GTEST_PORT_H_

#include <atomic>
#include <thread>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_ = true; }

  void WaitForNotification() {
    while (!notified_) std::this_thread::yield();
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal

#endif  // WEIGH_CMAKE_GOOGLETEST_CUSTOM_GTEST_PORT_H_
