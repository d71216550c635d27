#include "foundation/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "foundation/process.h"

namespace varnalo {

namespace {

constexpr const char* kNullDevice = "/dev/null";
constexpr const char* kFailureMessage =
    "\nCAN'T OPEN '/dev/null' for a closed standard stream: the run stops.\n";

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Opens /dev/null on the lowest closed descriptor, which must be fd.
bool bind_to_null(int fd) {
  const int got = ::open(kNullDevice, fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  if (got == fd) return true;
  if (got != -1) ::close(got);  // not the one asked for: nothing gained
  return false;
}

}  // namespace

bool prepare_process() {
  bool ok = true;
  // In ascending order: open() takes the lowest free number, so each closed
  // descriptor is filled before a higher one.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    if (!is_open(fd) && !bind_to_null(fd)) ok = false;
  if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) ok = false;
  if (!ok) write_error(kFailureMessage);  // lost if the error stream is the one closed
  return ok;
}

}  // namespace varnalo
