#include "foundation/startup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace varnalo {
namespace {

// Runs child in a forked process; returns its exit status (-1 if it did not
// exit normally).
int in_child(const std::function<int()>& child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(child());
  int raw = 0;
  if (pid < 0 || ::waitpid(pid, &raw, 0) != pid) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

bool is_null_device(int fd) {
  struct stat got {}, null {};
  return ::fstat(fd, &got) == 0 && ::stat("/dev/null", &null) == 0 && S_ISCHR(got.st_mode) &&
         got.st_rdev == null.st_rdev;
}

TEST(PrepareProcess, BindsClosedStandardDescriptorsToTheNullDevice) {
  const std::vector<std::vector<int>> cases = {{0}, {1}, {2}, {1, 2}, {0, 1, 2}};
  for (const auto& closed : cases) {
    const int status = in_child([&] {
      for (int fd : closed) ::close(fd);
      if (!prepare_process()) return 2;
      for (int fd : closed)
        if (!is_null_device(fd)) return 3;
      // The next file opened gets a number above the standard three.
      const int next = ::open("/dev/null", O_RDONLY);
      return next > 2 ? 0 : 4;
    });
    EXPECT_EQ(status, 0) << "closed: " << ::testing::PrintToString(closed);
  }
}

TEST(PrepareProcess, LeavesOpenDescriptorsAlone) {
  const int status = in_child([] {
    struct stat before {}, after {};
    if (::fstat(1, &before) != 0 || !prepare_process() || ::fstat(1, &after) != 0) return 2;
    return before.st_ino == after.st_ino && before.st_dev == after.st_dev ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

TEST(PrepareProcess, AWriteBeyondTheFileSizeLimitFailsWithEfbig) {
  char pattern[] = "/tmp/varnalo-fsize-XXXXXX";
  const int fd = ::mkstemp(pattern);
  ASSERT_NE(fd, -1);
  const int status = in_child([&] {
    constexpr rlim_t kLimit = 10;
    const rlimit limit{kLimit, kLimit};
    if (!prepare_process() || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    const std::string text(100, 'x');
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(kLimit)) return 3;
    return ::write(fd, text.data(), text.size()) == -1 && errno == EFBIG ? 0 : 4;
  });
  EXPECT_EQ(status, 0) << "without the signal ignored the child is killed by SIGXFSZ";
  ::close(fd);
  ::unlink(pattern);
}

}  // namespace
}  // namespace varnalo
