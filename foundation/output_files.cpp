#include "foundation/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "foundation/process.h"

namespace varnalo {

namespace {

// Permission bits of a new output file before the umask, as fopen uses.
constexpr mode_t kNewFileMode = 0666;

// True when the file exists and nobody may write to it. A read-only file is
// refused even where the permission check would let the process write (as
// the superuser can), so that marking a report read-only protects it.
bool marked_read_only(const std::filesystem::path& path) {
  using std::filesystem::perms;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return false;
  return (status.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) ==
         perms::none;
}

// Closes a descriptor that is given up because it is not usable; its own
// close result changes nothing.
void give_up(int fd) { static_cast<void>(::close(fd)); }

[[noreturn]] void write_failed(std::FILE*& f, const char* name, int error) {
  // A failure that left no reason (errno untouched) is an input/output error.
  const int reason = error != 0 ? error : EIO;
  std::string message = "  CAN'T WRITE '";
  message.append(name).append("': ").append(std::strerror(reason)).append("\n");
  discard_output_file(f);
  write_error(message);
  throw RunEnd{1, true};
}

}  // namespace

std::FILE* open_output_file(const std::filesystem::path& path) {
  if (marked_read_only(path)) return nullptr;
  // Non-blocking, so that a FIFO without a reader is refused at once
  // instead of waiting in open.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                        kNewFileMode);
  if (fd == -1) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode))) {
    give_up(fd);
    return nullptr;
  }
  // Writes block as usual from here on (a terminal could refuse them with
  // EAGAIN otherwise).
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    give_up(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "a");
  if (f == nullptr) give_up(fd);
  return f;
}

void check_write(std::FILE*& f, const char* name, bool written) {
  if (f == nullptr) return;
  const int error = errno;
  if (!written || std::ferror(f)) write_failed(f, name, error);
}

void check_output_file(std::FILE*& f, const char* name) {
  if (f == nullptr) return;
  errno = 0;
  const bool flushed = std::fflush(f) == 0;
  const int error = errno;
  if (!flushed || std::ferror(f)) write_failed(f, name, error);
}

void close_output_file(std::FILE*& f, const char* name) {
  if (f == nullptr) return;
  check_output_file(f, name);
  std::FILE* closing = std::exchange(f, nullptr);
  errno = 0;
  if (std::fclose(closing) != 0) write_failed(f, name, errno);
}

void discard_output_file(std::FILE*& f) {
  if (f == nullptr) return;
  // The run already ends on a reported failure; a second one adds nothing.
  static_cast<void>(std::fclose(std::exchange(f, nullptr)));
}

void fail_write(const std::string& file, const std::string& reason) {
  write_error("  CAN'T WRITE '" + file + "': " + reason + "\n");
  end_run(1);
}

void write_new_file(const std::filesystem::path& path, const std::string& file,
                    const std::string& bytes) {
  std::FILE* f = std::fopen(path.string().c_str(), "wbx");
  if (f == nullptr) fail_write(file, std::strerror(errno));
  int error = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) error = errno;
  if (std::fflush(f) != 0 && error == 0) error = errno;
  if (std::fclose(f) != 0 && error == 0) error = errno;
  if (error != 0) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    fail_write(file, std::strerror(error));
  }
}

}  // namespace varnalo
