// Natively libgcrypt hashes. Every Debian system has it (apt's own library
// and systemd need it), so the package adds no library a station lacks. It
// is loaded only when a digest is asked for, so that a weighing loads no
// more than it did. The kernel's hash sockets (AF_ALG) would need nothing at
// all, but many kernels, virtual machines and containers leave them out.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "runtime/platform/file_digest.h"
#include "runtime/platform/system_inspection.h"

namespace runtime::platform {
namespace {

constexpr size_t SHA256_SIZE = 32;

// libgcrypt's values that are used here (its ABI, soname 20).
constexpr int GCRY_MD_SHA256 = 8;
constexpr int GCRYCTL_INITIALIZATION_FINISHED = 38;

// libgcrypt's functions that are used here. A hash is an opaque pointer.
struct Gcrypt {
  const char* (*check_version)(const char*);
  unsigned int (*control)(int, ...);
  unsigned int (*md_open)(void**, int, unsigned int);
  void (*md_write)(void*, const void*, size_t);
  unsigned char* (*md_read)(void*, int);
  void (*md_close)(void*);
};

template <typename Function>
bool Find(void* library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  return *function != nullptr;
}

// Returns libgcrypt, ready to use, or nullptr with the reason in `failure`.
// Loaded once and kept.
const Gcrypt* LoadGcrypt(std::string* failure) {
  static bool tried = false;
  static Gcrypt gcrypt;
  static std::string reason;
  if (!tried) {
    tried = true;
    void* library = dlopen("libgcrypt.so.20", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* error = dlerror();
      reason = "libgcrypt cannot be loaded: " + std::string(error ? error : "libgcrypt.so.20");
    } else if (!Find(library, "gcry_check_version", &gcrypt.check_version) ||
               !Find(library, "gcry_control", &gcrypt.control) ||
               !Find(library, "gcry_md_open", &gcrypt.md_open) ||
               !Find(library, "gcry_md_write", &gcrypt.md_write) ||
               !Find(library, "gcry_md_read", &gcrypt.md_read) ||
               !Find(library, "gcry_md_close", &gcrypt.md_close)) {
      reason = "libgcrypt.so.20 lacks the functions of a digest";
    } else if (gcrypt.check_version(nullptr) == nullptr) {
      reason = "libgcrypt cannot be initialised";
    } else {
      gcrypt.control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
  }
  *failure = reason;
  return reason.empty() ? &gcrypt : nullptr;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Closes a hash when it goes out of scope.
class Hash {
 public:
  explicit Hash(const Gcrypt* gcrypt) : gcrypt_(gcrypt) {}
  ~Hash() {
    if (hash_ != nullptr) gcrypt_->md_close(hash_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  bool Open() { return gcrypt_->md_open(&hash_, GCRY_MD_SHA256, 0) == 0 && hash_ != nullptr; }
  void Write(const void* bytes, size_t size) { gcrypt_->md_write(hash_, bytes, size); }
  const unsigned char* Read() { return gcrypt_->md_read(hash_, GCRY_MD_SHA256); }

 private:
  const Gcrypt* gcrypt_;
  void* hash_ = nullptr;
};

std::string Reason(int code) {
  return SystemErrorText(code) + " (system code " + std::to_string(code) + ")";
}

}  // namespace

FileDigest Sha256OfFile(const std::string& path) {
  FileDigest digest;
  digest.path = path;
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    digest.failure = "the file cannot be opened: " + Reason(errno);
    return digest;
  }
  const Gcrypt* gcrypt = LoadGcrypt(&digest.failure);
  if (gcrypt == nullptr) return digest;
  Hash hash(gcrypt);
  if (!hash.Open()) {
    digest.failure = "libgcrypt offers no SHA-256";
    return digest;
  }
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(file.get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      digest.failure = "the file cannot be read: " + Reason(errno);
      return digest;
    }
    if (got == 0) break;
    hash.Write(buffer, static_cast<size_t>(got));
  }
  const unsigned char* value = hash.Read();
  if (value == nullptr) {
    digest.failure = "libgcrypt gave no SHA-256";
    return digest;
  }
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < SHA256_SIZE; ++i) {
    digest.sha256 += kHex[value[i] >> 4];
    digest.sha256 += kHex[value[i] & 15];
  }
  return digest;
}

FileDigest Sha256OfProgramFile() {
  // The link reads the file that was started even when its name has since
  // been given to another file.
  FileDigest digest = Sha256OfFile("/proc/self/exe");
  char name[4096];
  const ssize_t length = readlink("/proc/self/exe", name, sizeof(name));
  if (length > 0 && static_cast<size_t>(length) < sizeof(name)) digest.path.assign(name, length);
  return digest;
}

}  // namespace runtime::platform
