// Instance claims as lock files held with flock(): the kernel drops the lock
// when the holder's last descriptor closes, so a copy that crashes or is
// killed frees its number as surely as one that exits. The files live in the
// user's runtime directory, so the numbering covers that user's copies only.
#include "ui/instance_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kv {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

class LockFileClaim final : public InstanceClaim {
 public:
  explicit LockFileClaim(int fd) : fd_(fd) {}
  ~LockFileClaim() override { ::close(fd_); }
  LockFileClaim(const LockFileClaim&) = delete;
  LockFileClaim& operator=(const LockFileClaim&) = delete;

 private:
  int fd_;  // holds the lock while open
};

// A directory fit for the lock files: reached without following a symlink at
// its last component, ours, and writable by nobody else, so no other user can
// plant or replace a lock file in it.
int OpenPrivateDirectory(const char* path) {
  if (path == nullptr || path[0] != '/') {
    return -1;
  }
  FileDescriptor dir(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) {
    return -1;
  }
  struct stat info {};
  if (::fstat(dir.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return -1;
  }
  return dir.release();
}

int OpenLockDirectory() {
  const int runtimeDir = OpenPrivateDirectory(std::getenv("XDG_RUNTIME_DIR"));
  if (runtimeDir >= 0) {
    return runtimeDir;
  }
  // No usable runtime directory: a private one of our own under /tmp. If
  // someone else already made that name, the checks refuse it.
  char path[64];
  std::snprintf(path, sizeof path, "/tmp/kv-updater-%u", static_cast<unsigned>(::geteuid()));
  if (::mkdir(path, 0700) != 0 && errno != EEXIST) {
    return -1;
  }
  return OpenPrivateDirectory(path);
}

// One file per name, the name percent-encoded so that every name gives a
// different plain file name ('/' and the like never reach the file system).
bool LockFileName(const std::string& name, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  out = "kv-updater-";
  for (const char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  out += ".lock";
  return out.size() <= 255;  // NAME_MAX
}

}  // namespace

std::unique_ptr<InstanceClaim> ClaimInstanceName(const std::string& name) {
  std::string fileName;
  if (!LockFileName(name, fileName)) {
    return nullptr;
  }
  const FileDescriptor dir(OpenLockDirectory());
  if (dir.get() < 0) {
    return nullptr;
  }
  FileDescriptor file(::openat(dir.get(), fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (file.get() < 0) {
    return nullptr;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  // Taking the lock and learning whether it was free is one step of the kernel.
  int result;
  do {
    result = ::flock(file.get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    return nullptr;  // held by another copy, or not lockable: taken either way
  }
  return std::make_unique<LockFileClaim>(file.release());
}

}  // namespace kv
