#pragma once
// Owns one POSIX file descriptor and closes it on every early return.

#include <cerrno>
#include <unistd.h>

namespace platform {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes now and answers 0 or close's errno (deferred write errors show up
  // here on network file systems). Linux releases the descriptor even when
  // close fails, EINTR included, so it is never retried.
  int close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

}  // namespace platform
