// The refusal defines linkat and renameat2 itself: a test program that links
// it calls these definitions wherever it calls them, the platform layer
// included, and they hand the call on to the C library's unless a refusal is
// in force.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "runtime/platform/testing/link_refusal.h"

namespace runtime::platform {
namespace {

std::atomic<bool> refusing{false};
std::atomic<bool> refusing_flags{false};
std::atomic<int> links_refused{0};
std::atomic<int> renames_refused{0};

using LinkatFunction = int (*)(int, const char*, int, const char*, int);
using Renameat2Function = int (*)(int, const char*, int, const char*, unsigned);

LinkatFunction SystemLinkat() {
  static auto system = reinterpret_cast<LinkatFunction>(dlsym(RTLD_NEXT, "linkat"));
  return system;
}

Renameat2Function SystemRenameat2() {
  static auto system = reinterpret_cast<Renameat2Function>(dlsym(RTLD_NEXT, "renameat2"));
  return system;
}

}  // namespace

LinkRefusal::LinkRefusal(bool no_rename_flags) {
  if (refusing || SystemLinkat() == nullptr || SystemRenameat2() == nullptr) return;
  links_refused = 0;
  renames_refused = 0;
  refusing_flags = no_rename_flags;
  refusing = true;
  ok_ = true;
}

LinkRefusal::~LinkRefusal() {
  if (!ok_) return;
  refusing = false;
  refusing_flags = false;
}

int LinkRefusal::refused_links() const { return links_refused; }

int LinkRefusal::refused_renames() const { return renames_refused; }

}  // namespace runtime::platform

extern "C" int linkat(int from_directory, const char* from, int to_directory, const char* to,
                      int flags) noexcept {
  using namespace runtime::platform;
  if (refusing) {
    ++links_refused;
    errno = EPERM;
    return -1;
  }
  const LinkatFunction system = SystemLinkat();
  if (system == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return system(from_directory, from, to_directory, to, flags);
}

extern "C" int renameat2(int from_directory, const char* from, int to_directory, const char* to,
                         unsigned flags) noexcept {
  using namespace runtime::platform;
  if (refusing_flags && flags != 0) {
    ++renames_refused;
    errno = EINVAL;
    return -1;
  }
  const Renameat2Function system = SystemRenameat2();
  if (system == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return system(from_directory, from, to_directory, to, flags);
}
