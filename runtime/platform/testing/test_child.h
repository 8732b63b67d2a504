#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_TEST_CHILD_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_TEST_CHILD_H_

#include <memory>
#include <string>

namespace runtime::platform {

// For tests that need a second process. The child is this same test
// program, started again with the environment variable kTestChildVariable
// set to a task; the program's start-up code reads it, carries the task out
// instead of running its tests and ends with an exit code that tells how it
// went. A task begins with the name of the test file that carries it out
// ("file_open ..."), so that several test files of one program can each
// take only their own tasks.
constexpr char kTestChildVariable[] = "WEIGH_TEST_CHILD";

// A running child.
class TestChild {
 public:
  // Starts the child with `task`. Returns nullptr, with the reason in
  // `why_not`, when it cannot be started.
  static std::unique_ptr<TestChild> Start(const std::string& task, std::string* why_not);

  // A child not waited for is ended and waited for.
  virtual ~TestChild() = default;

  // Waits for the child to end, for a minute at most, and returns its exit
  // code; -1 when it did not end normally or in time (it is then ended).
  virtual int Wait() = 0;
};

// Starts a child with `task` and waits for it. Returns its exit code, or -1
// when it could not be started or did not end normally.
int RunTestChild(const std::string& task);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_TEST_CHILD_H_
