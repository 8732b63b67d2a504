// What the POSIX file backend does where POSIX and Windows differ: path
// separators, file kinds, descriptors, modes and other people's locks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/platform/file.h"
#include "runtime/platform/testing/flush_watch.h"
#include "runtime/platform/testing/held_path.h"
#include "runtime/platform/testing/link_refusal.h"
#include "runtime/platform/testing/scratch_directory.h"

namespace runtime::platform {
namespace {

constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;

FileHandle Open(const char* path, uint32_t access, uint32_t share,
                FileDisposition disposition = FileDisposition::kOpenAlways) {
  return OpenHeldPath(path, access, share, disposition);
}

class FilePosixTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }

  ScratchDirectory scratch_;
};

TEST_F(FilePosixTest, NewAndMovedNamesAreFlushedWithTheirDirectories) {
  const std::string scratch = std::filesystem::path(scratch_.path()).filename().string();
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  FlushWatch watch(false);
  ASSERT_TRUE(watch.ok());
  FolderOutcome outcome;
  const FolderHandle raspuns = HoldFolderIn(here, "raspuns", true, &outcome);
  ASSERT_NE(raspuns, 0);
  PutFile("raspuns/cant-1.tmp", "1\r\n");
  ASSERT_TRUE(MoveWithoutReplacingIn(raspuns, "cant-1.tmp", "cant.txt"));
  PutFile("raspuns/cant-2.tmp", "2\r\n");
  EXPECT_FALSE(MoveWithoutReplacingIn(raspuns, "cant-2.tmp", "cant.txt"));
  ASSERT_TRUE(MoveWithoutReplacingIn(raspuns, "cant-2.tmp", "moved"));
  ReleaseFolder(raspuns);
  ReleaseFolder(here);

  // Each directory as it was when flushed: the new name there, and the old
  // one already gone, so that one flush makes both durable.
  std::vector<std::string> flushed;
  for (const SeenFlush& flush : watch.seen()) {
    EXPECT_TRUE(flush.directory);
    flushed.push_back(flush.name + ": " + flush.entries);
  }
  const std::vector<std::string> expected = {
      scratch + ": raspuns ",
      "raspuns: cant.txt ",
      "raspuns: cant.txt moved ",
  };
  EXPECT_EQ(flushed, expected);
}

TEST_F(FilePosixTest, FifosAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo("log.txt", 0666), 0);
  // Without a writer a blocking read-only open would wait forever, and a
  // write-only one without a reader.
  EXPECT_EQ(Open("log.txt", kGenericRead, kFileShareRead, FileDisposition::kOpenExisting), 0);
  EXPECT_EQ(Open("log.txt", kGenericWrite, kFileShareRead), 0);
  EXPECT_EQ(Open("log.txt", kGenericRead | kFileAppendData, kFileShareRead), 0);
}

// Counts the opens of one file system object, seen by the kernel whoever
// asks for them.
class OpenWatch {
 public:
  explicit OpenWatch(const char* path) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, path, IN_OPEN | IN_DONT_FOLLOW) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int Opens() {
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = read(fd_, events, sizeof(events))) > 0;) {
      for (char* at = events; at < events + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->mask & IN_OPEN) ++opens;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return opens;
  }

 private:
  int fd_ = -1;
};

// A character device, a FIFO and a socket under a file's name, and a link of
// this user to each, are refused by every open before anything opens them:
// opening a device can act on its own, and a FIFO's writer sees a reader.
TEST_F(FilePosixTest, DevicesFifosAndSocketsAreRefusedBeforeAnyOpen) {
  std::vector<std::string> names;
  // The memory device that discards, made here so that nobody else opens it.
  if (mknod("device", S_IFCHR | 0666, makedev(1, 3)) == 0) names.push_back("device");
  ASSERT_EQ(mkfifo("fifo", 0666), 0);
  names.push_back("fifo");
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "socket");
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  names.push_back("socket");
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  for (const std::string& name : names) {
    const std::string link = "link-to-" + name;
    ASSERT_EQ(symlink(name.c_str(), link.c_str()), 0);
    OpenWatch watch(name.c_str());
    ASSERT_TRUE(watch.ok()) << name;
    for (const std::string& entry : {name, link}) {
      for (FileDisposition disposition :
           {FileDisposition::kOpenExisting, FileDisposition::kOpenAlways,
            FileDisposition::kCreateAlways, FileDisposition::kTruncateExisting}) {
        for (uint32_t access : {kGenericRead, kGenericRead | kFileAppendData, kReadWrite}) {
          EXPECT_EQ(OpenFileIn(here, entry.c_str(), access, kFileShareRead, disposition,
                               kFileAttributeNormal, LinkRule::kTrusted, false),
                    0)
              << entry;
        }
      }
      EXPECT_EQ(Open(entry.c_str(), kGenericRead | kFileAppendData, kFileShareRead), 0) << entry;
      const EntryFacts facts = InspectEntryIn(here, entry.c_str(), LinkRule::kTrusted);
      EXPECT_EQ(facts.kind, name == "device" ? EntryKind::kCharacterDevice
                            : name == "fifo" ? EntryKind::kFifo
                                             : EntryKind::kOther)
          << entry;
      EXPECT_EQ(facts.through_link, entry == link) << entry;
    }
    EXPECT_EQ(watch.Opens(), 0) << name << " was opened";
  }
  ReleaseFolder(here);
  close(listener);
  if (names.front() != "device") GTEST_SKIP() << "no right to make a device here";
}

// A FIFO swapped in under a file's name between the look and the open is
// not opened either: another process exchanges the two names over and over
// while opens of the file go on.
TEST_F(FilePosixTest, AFifoSwappedInAfterTheLookIsNeverOpened) {
  PutFile("log.txt", "line\r\n");
  ASSERT_EQ(mkfifo("swapped", 0666), 0);
  OpenWatch watch("swapped");
  ASSERT_TRUE(watch.ok());
  const pid_t swapper = fork();
  ASSERT_GE(swapper, 0);
  if (swapper == 0) {
    for (;;) renameat2(AT_FDCWD, "log.txt", AT_FDCWD, "swapped", RENAME_EXCHANGE);
  }
  const FolderHandle here = HoldCurrentFolder();
  int opened = 0;
  for (int attempt = 0; attempt < 3000; ++attempt) {
    const FileHandle file =
        OpenFileIn(here, "log.txt", kGenericRead | kFileAppendData, kFileShareRead,
                   FileDisposition::kOpenExisting, kFileAttributeNormal, LinkRule::kNever, false);
    if (file != 0) {
      ++opened;
      CloseFileHandle(file);
    }
  }
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  ReleaseFolder(here);
  EXPECT_GT(opened, 0) << "the file itself was never opened";
  EXPECT_EQ(watch.Opens(), 0) << "the FIFO was opened";
}

TEST_F(FilePosixTest, ATerminalUnderADataFileNameIsRefusedWithoutBlocking) {
  // A terminal nobody types into: opening it must end at once, refused. The
  // open runs in a child so that a blocking one is caught.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ASSERT_EQ(symlink(ptsname(master), "cant.txt"), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileHandle file =
        Open("cant.txt", kGenericRead, kFileShareRead, FileDisposition::kOpenExisting);
    _exit(file == 0 ? 0 : 1);
  }
  int status = -1;
  for (int waited = 0; waited < 200 && waitpid(child, &status, WNOHANG) == 0; ++waited) {
    usleep(10000);
  }
  if (status == -1) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "opening the terminal blocked";
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  close(master);
}

TEST_F(FilePosixTest, DescriptorsAreNeverZeroAndCloseOnExec) {
  FileHandle file = Open("f", kReadWrite, 0);
  ASSERT_NE(file, 0);
  EXPECT_NE(fcntl(static_cast<int>(file), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(static_cast<int>(file), F_GETFL) & O_NONBLOCK, 0);
  CloseFileHandle(file);

  // A process started with its standard input closed.
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  file = Open("f", kReadWrite, 0);
  dup2(saved, 0);
  close(saved);
  EXPECT_GT(file, 0);
  if (file > 0) CloseFileHandle(file);
}

TEST_F(FilePosixTest, NewFilesFollowTheUmask) {
  mode_t previous = umask(027);
  FileHandle file = Open("f", kReadWrite, 0);
  umask(previous);
  ASSERT_NE(file, 0);
  CloseFileHandle(file);
  struct stat info;
  ASSERT_EQ(stat("f", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(FilePosixTest, ForeignLocksNeverRefuseAnOpen) {
  {
    FileHandle file = Open("f", kReadWrite, 0);
    ASSERT_NE(file, 0);
    CloseFileHandle(file);
  }
  // Another program's write lock over the whole file. (An open file
  // description's lock: a classic one would go with the first close of any
  // descriptor of the file in this process.)
  int foreign = open("f", O_RDWR | O_CLOEXEC);
  ASSERT_GE(foreign, 0);
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(foreign, F_OFD_SETLK, &whole), 0);
  for (uint32_t share : {0u, kFileShareRead, kFileShareRead | kFileShareWrite}) {
    FileHandle file = Open("f", kReadWrite, share);
    EXPECT_NE(file, 0) << share;
    if (file != 0) CloseFileHandle(file);
    file = Open("f", kGenericWrite, share);
    EXPECT_NE(file, 0) << share;
    if (file != 0) CloseFileHandle(file);
  }
  whole.l_type = F_UNLCK;
  fcntl(foreign, F_OFD_SETLK, &whole);

  // A small foreign lock, as databases take them, leaves share modes working.
  struct flock first_byte = {};
  first_byte.l_type = F_WRLCK;
  first_byte.l_whence = SEEK_SET;
  first_byte.l_len = 1;
  ASSERT_EQ(fcntl(foreign, F_OFD_SETLK, &first_byte), 0);
  FileHandle exclusive = Open("f", kReadWrite, 0);
  ASSERT_NE(exclusive, 0);
  EXPECT_EQ(Open("f", kGenericRead, kFileShareRead | kFileShareWrite), 0);
  CloseFileHandle(exclusive);
  close(foreign);
}

// What `links` lets an open of `path` read; "refused" when it fails.
std::string ReadUnder(const char* path, LinkRule links,
                      FileDisposition disposition = FileDisposition::kOpenExisting) {
  FileHandle file = OpenHeldPath(path, kReadWrite, kFileShareRead, disposition, links);
  if (file == 0) return "refused";
  char bytes[64];
  const int32_t got = ReadFromFile(file, bytes, sizeof(bytes));
  CloseFileHandle(file);
  return std::string(bytes, static_cast<size_t>(got));
}

TEST_F(FilePosixTest, LinksAreFollowedOnlyAsTheRuleAllows) {
  PutFile("target", "secret");
  ASSERT_EQ(mkdir("sub", 0777), 0);
  PutFile("sub/near", "near");
  ASSERT_EQ(symlink("target", "mine"), 0);
  ASSERT_EQ(symlink("near", "sub/relative"), 0);
  ASSERT_EQ(symlink("target", "theirs"), 0);
  ASSERT_EQ(symlink("theirs", "mine_to_theirs"), 0);
  ASSERT_EQ(symlink("gone", "dangling_theirs"), 0);
  std::string why_not;
  if (!GiveLinkToOtherUser("theirs", &why_not) ||
      !GiveLinkToOtherUser("dangling_theirs", &why_not)) {
    GTEST_SKIP() << why_not;
  }

  EXPECT_EQ(QueryLinkTrustIn(0, "target"), LinkTrust::kNoLink);
  EXPECT_EQ(QueryLinkTrustIn(0, "missing"), LinkTrust::kNoLink);
  EXPECT_EQ(QueryLinkTrustIn(0, "mine"), LinkTrust::kTrusted);
  EXPECT_EQ(QueryLinkTrustIn(0, "theirs"), LinkTrust::kUntrusted);
  EXPECT_EQ(QueryLinkTrustIn(0, "dangling_theirs"), LinkTrust::kUntrusted);

  // Plain files open under every rule.
  for (LinkRule rule : {LinkRule::kAny, LinkRule::kNever, LinkRule::kTrusted}) {
    EXPECT_EQ(ReadUnder("target", rule), "secret");
  }
  EXPECT_EQ(ReadUnder("mine", LinkRule::kAny), "secret");
  EXPECT_EQ(ReadUnder("theirs", LinkRule::kAny), "secret");
  EXPECT_EQ(ReadUnder("mine", LinkRule::kNever), "refused");
  EXPECT_EQ(ReadUnder("mine", LinkRule::kTrusted), "secret");
  // A relative target counts from the link's folder, as the kernel has it.
  EXPECT_EQ(ReadUnder("sub\\relative", LinkRule::kTrusted), "near");
  EXPECT_EQ(ReadUnder("theirs", LinkRule::kTrusted), "refused");
  // Every link of a chain must be trusted.
  EXPECT_EQ(ReadUnder("mine_to_theirs", LinkRule::kTrusted), "refused");
  // A dangling link is never created through unless trusted.
  EXPECT_EQ(ReadUnder("dangling_theirs", LinkRule::kTrusted, FileDisposition::kOpenAlways),
            "refused");
  EXPECT_EQ(ReadUnder("dangling_theirs", LinkRule::kNever, FileDisposition::kCreateAlways),
            "refused");
  EXPECT_FALSE(std::filesystem::exists("gone"));
  ASSERT_EQ(symlink("made", "dangling_mine"), 0);
  EXPECT_EQ(ReadUnder("dangling_mine", LinkRule::kTrusted, FileDisposition::kOpenAlways), "");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status("made")));
  EXPECT_EQ(FileContents("target"), "secret");
}

// What an open of the entry `name` of `folder` reads, following trusted
// links; "refused" when it fails.
std::string ReadEntry(FolderHandle folder, const char* name,
                      FileDisposition disposition = FileDisposition::kOpenExisting) {
  FileHandle file = OpenFileIn(folder, name, kGenericRead | kFileAppendData, kFileShareRead,
                               disposition, kFileAttributeNormal, LinkRule::kTrusted, false);
  if (file == 0) return "refused";
  char bytes[64];
  const int32_t got = ReadFromFile(file, bytes, sizeof(bytes));
  CloseFileHandle(file);
  return std::string(bytes, static_cast<size_t>(got));
}

// Every link on the way to a file entry is judged, not only the last: a
// folder link of another user inside a trusted link's target, or a link of
// another user further down a chain, stops the way there.
TEST_F(FilePosixTest, EveryLinkOnTheWayToAFileIsJudgedByItsOwner) {
  ASSERT_EQ(mkdir("logs", 0777), 0);
  ASSERT_EQ(mkdir("elsewhere", 0777), 0);
  PutFile("logs/weigh.log", "mine");
  PutFile("elsewhere/weigh.log", "theirs");
  ASSERT_EQ(symlink("logs", "my_logs"), 0);
  ASSERT_EQ(symlink("elsewhere", "their_logs"), 0);
  ASSERT_EQ(symlink("my_logs/weigh.log", "through_mine"), 0);
  ASSERT_EQ(symlink("their_logs/weigh.log", "through_theirs"), 0);
  ASSERT_EQ(symlink("elsewhere/weigh.log", "their_file"), 0);
  ASSERT_EQ(symlink("their_file", "chain_to_theirs"), 0);
  ASSERT_EQ(symlink("their_logs/new.log", "dangling_through_theirs"), 0);
  ASSERT_EQ(symlink("their_logs/", "folder_through_theirs"), 0);
  std::string why_not;
  if (!GiveLinkToOtherUser("their_logs", &why_not) ||
      !GiveLinkToOtherUser("their_file", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  EXPECT_EQ(ReadEntry(here, "through_mine"), "mine");
  EXPECT_EQ(InspectEntryIn(here, "through_mine", LinkRule::kTrusted).kind, EntryKind::kFile);
  for (const char* name :
       {"through_theirs", "chain_to_theirs", "dangling_through_theirs", "folder_through_theirs"}) {
    EXPECT_EQ(ReadEntry(here, name), "refused") << name;
    EXPECT_EQ(ReadEntry(here, name, FileDisposition::kOpenAlways), "refused") << name;
    EXPECT_EQ(InspectEntryIn(here, name, LinkRule::kTrusted).kind, EntryKind::kUntrustedLink)
        << name;
  }
  EXPECT_FALSE(std::filesystem::exists("elsewhere/new.log"));
  // Under kAny every link is followed, as before.
  EXPECT_EQ(InspectEntryIn(here, "through_theirs", LinkRule::kAny).kind, EntryKind::kFile);
  ReleaseFolder(here);
}

// A link to itself, a ring of two and a chain of 50 end in a refusal, for a
// file entry and for a folder, never in a crash.
TEST_F(FilePosixTest, LinkLoopsAndLongChainsAreRefused) {
  ASSERT_EQ(symlink("self", "self"), 0);
  ASSERT_EQ(symlink("ring_b", "ring_a"), 0);
  ASSERT_EQ(symlink("ring_a", "ring_b"), 0);
  ASSERT_EQ(symlink("self/x", "into_self"), 0);
  ASSERT_EQ(mkdir("end", 0777), 0);
  PutFile("end/file", "reached");
  for (int link = 0; link < 50; ++link) {
    const std::string target = link == 0 ? "end" : "chain" + std::to_string(link - 1);
    ASSERT_EQ(symlink(target.c_str(), ("chain" + std::to_string(link)).c_str()), 0);
  }
  ASSERT_EQ(symlink("chain49/file", "long_chain"), 0);
  ASSERT_EQ(symlink("chain30/file", "short_chain"), 0);
  const FolderHandle here = HoldCurrentFolder();
  ASSERT_NE(here, 0);
  for (const char* name : {"self", "ring_a", "into_self", "chain49", "long_chain"}) {
    EXPECT_EQ(ReadEntry(here, name, FileDisposition::kOpenAlways), "refused") << name;
    EXPECT_EQ(InspectEntryIn(here, name, LinkRule::kTrusted).kind, EntryKind::kUnreachable) << name;
    FolderOutcome outcome;
    EXPECT_EQ(HoldFolderIn(here, name, true, &outcome), 0) << name;
    EXPECT_EQ(outcome, FolderOutcome::kFailed) << name;
  }
  // Within the limit the chain is followed.
  EXPECT_EQ(ReadEntry(here, "short_chain"), "reached");
  FolderOutcome outcome;
  const FolderHandle chained = HoldFolderIn(here, "chain30", false, &outcome);
  EXPECT_NE(chained, 0);
  ReleaseFolder(chained);
  ReleaseFolder(here);
}

// Where the file system keeps no hard links, and then no RENAME_NOREPLACE
// either, a move still never replaces a waiting value and still moves.
TEST_F(FilePosixTest, MovesWithoutHardLinksOrRenameFlagsNeverReplace) {
  for (bool no_rename_flags : {false, true}) {
    std::filesystem::remove_all("raspuns");
    ASSERT_EQ(mkdir("raspuns", 0777), 0);
    const FolderHandle here = HoldCurrentFolder();
    FolderOutcome outcome;
    const FolderHandle held = HoldFolderIn(here, "raspuns", false, &outcome);
    ASSERT_NE(held, 0);
    PutFile("raspuns/one.tmp", "1\r\n");
    PutFile("raspuns/two.tmp", "2\r\n");
    LinkRefusal refusal(no_rename_flags);
    ASSERT_TRUE(refusal.ok());
    EXPECT_TRUE(MoveWithoutReplacingIn(held, "one.tmp", "cant.txt")) << no_rename_flags;
    EXPECT_FALSE(MoveWithoutReplacingIn(held, "two.tmp", "cant.txt")) << no_rename_flags;
    EXPECT_FALSE(MoveWithoutReplacingIn(held, "missing.tmp", "other.txt")) << no_rename_flags;
    EXPECT_EQ(refusal.refused_links(), 3) << no_rename_flags;
    EXPECT_EQ(refusal.refused_renames(), no_rename_flags ? 3 : 0);
    EXPECT_EQ(FileContents("raspuns/cant.txt"), "1\r\n") << no_rename_flags;
    EXPECT_EQ(FileContents("raspuns/two.tmp"), "2\r\n") << no_rename_flags;
    EXPECT_FALSE(std::filesystem::exists("raspuns/one.tmp")) << no_rename_flags;
    EXPECT_FALSE(std::filesystem::exists("raspuns/other.txt")) << no_rename_flags;
    ReleaseFolder(held);
    ReleaseFolder(here);
  }
}

}  // namespace
}  // namespace runtime::platform
