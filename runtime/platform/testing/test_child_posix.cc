#include "runtime/platform/testing/test_child.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "runtime/platform/clock.h"

extern char** environ;

namespace runtime::platform {
namespace {

constexpr int64_t kWaitLimitMs = 60000;

class PosixChild : public TestChild {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Reap(nullptr);
    }
  }

  int Wait() override {
    if (pid_ <= 0) return -1;
    const int64_t deadline = MonotonicMilliseconds() + kWaitLimitMs;
    int status = 0;
    pid_t done;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 || (done < 0 && errno == EINTR)) {
      if (MonotonicMilliseconds() > deadline) {
        kill(pid_, SIGKILL);
        Reap(nullptr);
        return -1;
      }
      SleepMilliseconds(2);
    }
    pid_ = -1;
    if (done < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

 private:
  void Reap(int* status) {
    while (waitpid(pid_, status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_;
};

}  // namespace

std::unique_ptr<TestChild> TestChild::Start(const std::string& task, std::string* why_not) {
  char program[4096];
  ssize_t length = readlink("/proc/self/exe", program, sizeof(program) - 1);
  if (length <= 0) {
    *why_not = "cannot find this program: " + std::string(std::strerror(errno));
    return nullptr;
  }
  program[length] = '\0';

  // The environment as it is, with the task in place of any earlier one.
  const std::string prefix = std::string(kTestChildVariable) + "=";
  const std::string assignment = prefix + task;
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) environment.push_back(*entry);
  }
  environment.push_back(const_cast<char*>(assignment.c_str()));
  environment.push_back(nullptr);
  char* arguments[] = {program, nullptr};

  pid_t pid;
  int error = posix_spawn(&pid, program, nullptr, nullptr, arguments, environment.data());
  if (error != 0) {
    *why_not = "cannot start " + std::string(program) + ": " + std::strerror(error);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid);
}

int RunTestChild(const std::string& task) {
  std::string why_not;
  std::unique_ptr<TestChild> child = TestChild::Start(task, &why_not);
  return child == nullptr ? -1 : child->Wait();
}

}  // namespace runtime::platform
