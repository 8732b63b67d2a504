#ifndef WEIGH_RUNTIME_PLATFORM_FILE_DIGEST_H_
#define WEIGH_RUNTIME_PLATFORM_FILE_DIGEST_H_

// The SHA-256 of a file, above all of the running program's own file, so
// that a person can tell which program handles the weight. Well-kept code
// that the system already has computes it: libgcrypt on Linux, the
// CryptoAPI's AES provider (there since Windows XP SP3) on Windows.

#include <string>

namespace runtime::platform {

// A file's SHA-256, or why there is none.
struct FileDigest {
  // The path that was read, as the system names the file.
  std::string path;
  // 64 lowercase hexadecimal digits, as sha256sum prints them; empty when
  // the digest could not be had.
  std::string sha256;
  // Why not, in a few words with the system's reason, when `sha256` is
  // empty.
  std::string failure;
};

// The SHA-256 of the bytes of the file at `path` (on Windows in UTF-8,
// opened by its wide name).
FileDigest Sha256OfFile(const std::string& path);

// The SHA-256 of the program file this process was started from, read at
// the time of the call (/proc/self/exe; the module's own file on Windows).
// `path` is the file's name for people: on Windows in UTF-8, from the
// wide name of the module.
FileDigest Sha256OfProgramFile();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_FILE_DIGEST_H_
