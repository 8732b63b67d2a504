#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_TEST_THREAD_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_TEST_THREAD_H_

#include <functional>
#include <memory>

namespace runtime::platform {

// For tests: a second thread of this process running `body`. The Windows
// build has no std::thread (its C++ library is built without a thread
// library, so that the program runs on old Windows), hence this.
class TestThread {
 public:
  // Starts `body` on a new thread. Aborts the test program when no thread
  // can be made: no test can go on without it.
  explicit TestThread(std::function<void()> body);

  // Joins the thread if that has not been done.
  ~TestThread();
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;

  // Waits until `body` has returned.
  void Join();

  // The thread as the backend keeps it.
  struct Running;

 private:
  std::unique_ptr<Running> running_;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_TEST_THREAD_H_
