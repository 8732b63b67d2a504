#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_LINK_REFUSAL_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_LINK_REFUSAL_H_

namespace runtime::platform {

// For tests: while it lives, the file system behaves as one that keeps no
// hard links (linkat fails with EPERM) and, with `no_rename_flags`, no
// RENAME_NOREPLACE either (renameat2 with flags fails with EINVAL), for every
// call the platform layer makes. The shipped programs never link it: it takes
// the system's calls over from outside the platform layer. One at a time;
// not every platform can do this (Windows moves with MoveFileEx alone).
class LinkRefusal {
 public:
  explicit LinkRefusal(bool no_rename_flags);
  ~LinkRefusal();
  LinkRefusal(const LinkRefusal&) = delete;
  LinkRefusal& operator=(const LinkRefusal&) = delete;

  // True when the refusal is in force.
  bool ok() const { return ok_; }

  // How many hard links and renames with flags were refused so far.
  int refused_links() const;
  int refused_renames() const;

 private:
  bool ok_ = false;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_LINK_REFUSAL_H_
