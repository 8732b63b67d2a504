#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/platform/testing/name_swapper.h"

namespace runtime::platform {
namespace {

constexpr uid_t kSwapperUserId = 65534;

class PosixNameSwapper : public NameSwapper {
 public:
  PosixNameSwapper(pid_t child, int stop, int report)
      : child_(child), stop_(stop), report_(report) {}
  ~PosixNameSwapper() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      Reap();
    }
    if (stop_ >= 0) close(stop_);
    close(report_);
  }

  int Stop() override {
    // Closing the stop pipe tells the child to report and end.
    close(stop_);
    stop_ = -1;
    int taken = -1;
    pollfd wait_for{report_, POLLIN, 0};
    if (poll(&wait_for, 1, 10000) != 1 || read(report_, &taken, sizeof(taken)) != sizeof(taken)) {
      taken = -1;
    }
    kill(child_, SIGKILL);
    Reap();
    return taken;
  }

 private:
  void Reap() {
    int status;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
  }

  pid_t child_;
  int stop_;
  int report_;
};

// The child's work; only system calls, as the parent may have other threads.
[[noreturn]] void Swap(const std::string& first, const std::string& second, const std::string& take,
                       int stop, int report) {
  const int folder = open(first.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (getuid() == 0 && (setgroups(0, nullptr) != 0 ||
                        setresgid(kSwapperUserId, kSwapperUserId, kSwapperUserId) != 0 ||
                        setresuid(kSwapperUserId, kSwapperUserId, kSwapperUserId) != 0)) {
    _exit(2);
  }
  const char started = folder >= 0 && renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(),
                                                RENAME_EXCHANGE) == 0
                           ? 0
                           : static_cast<char>(errno);
  if (write(report, &started, 1) != 1 || started != 0) _exit(3);
  int taken = 0;
  for (;;) {
    pollfd stopped{stop, POLLIN, 0};
    if (poll(&stopped, 1, 0) != 0) break;
    renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
    if (unlinkat(folder, take.c_str(), 0) == 0) ++taken;
  }
  (void)!write(report, &taken, sizeof(taken));
  _exit(0);
}

}  // namespace

std::unique_ptr<NameSwapper> NameSwapper::Start(const std::string& first, const std::string& second,
                                                const std::string& take, std::string* why_not) {
  int stop[2];
  int report[2];
  if (pipe2(stop, O_CLOEXEC) != 0) {
    *why_not = std::string("no pipe: ") + std::strerror(errno);
    return nullptr;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    *why_not = std::string("no pipe: ") + std::strerror(errno);
    close(stop[0]);
    close(stop[1]);
    return nullptr;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(stop[1]);
    close(report[0]);
    Swap(first, second, take, stop[0], report[1]);
  }
  close(stop[0]);
  close(report[1]);
  if (child < 0) {
    *why_not = std::string("cannot fork: ") + std::strerror(errno);
    close(stop[1]);
    close(report[0]);
    return nullptr;
  }
  auto swapper = std::make_unique<PosixNameSwapper>(child, stop[1], report[0]);
  char started = -1;
  pollfd wait_for{report[0], POLLIN, 0};
  if (poll(&wait_for, 1, 10000) != 1 || read(report[0], &started, 1) != 1) {
    *why_not = "the swapping process did not start (cannot act as user 65534?)";
    return nullptr;
  }
  if (started != 0) {
    *why_not = std::string("cannot swap the names: ") + std::strerror(started);
    return nullptr;
  }
  return swapper;
}

}  // namespace runtime::platform
