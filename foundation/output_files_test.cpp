#include "foundation/output_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/process.h"
#include "support/harness.h"

namespace varnalo {
namespace {

namespace fs = std::filesystem;
using testing::TempWorkdir;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Collects what is written to the error stream while it lives.
class ErrorCapture {
 public:
  ErrorCapture() : previous_(set_error_sink([this](std::string_view t) { text_.append(t); })) {}
  ~ErrorCapture() { set_error_sink(previous_); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  ErrorSink previous_;
};

TEST(OpenOutputFile, AcceptsRegularFilesAndCharacterDevices) {
  TempWorkdir dir;
  const fs::path existing = dir.root() / "OLD.TXT";
  std::ofstream(existing) << "kept\n";
  const fs::path null_link = dir.root() / "NULL.TXT";
  fs::create_symlink("/dev/null", null_link);
  for (const fs::path& path : {dir.root() / "NEW.TXT", existing, null_link}) {
    std::FILE* f = open_output_file(path);
    ASSERT_NE(f, nullptr) << path;
    ASSERT_GT(std::fputs("added\n", f), 0);
    close_output_file(f, "X.TXT");
    EXPECT_EQ(f, nullptr);
  }
  EXPECT_EQ(contents(existing), "kept\nadded\n") << "appended, never truncated";
  EXPECT_EQ(contents(dir.root() / "NEW.TXT"), "added\n");
}

TEST(OpenOutputFile, RefusesWhatIsNotAFileWithoutBlocking) {
  TempWorkdir dir;
  const fs::path fifo = dir.root() / "FIFO.TXT";
  const fs::path fifo_read = dir.root() / "READ.TXT";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(fifo_read.c_str(), 0600), 0);
  // A FIFO with a reader would open; it is refused after the open.
  const int reader = ::open(fifo_read.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_NE(reader, -1);
  const fs::path folder = dir.root() / "FOLDER.TXT";
  fs::create_directory(folder);
  const fs::path socket_path = dir.root() / "SOCKET.TXT";
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_NE(sock, -1);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const fs::path read_only = dir.root() / "LOCKED.TXT";
  std::ofstream(read_only) << "kept\n";
  fs::permissions(read_only, fs::perms::owner_read);
  for (const fs::path& path : {fifo, fifo_read, folder, socket_path, read_only})
    EXPECT_EQ(open_output_file(path), nullptr) << path;
  EXPECT_EQ(contents(read_only), "kept\n");
  ::close(reader);
  ::close(sock);
}

TEST(OutputFileChecks, AFailedWriteNamesTheFileAndEndsTheRun) {
  // /dev/full takes the open and refuses every write with ENOSPC.
  const std::string message = "  CAN'T WRITE 'TABLE.TXT': No space left on device\n";
  const struct {
    const char* what;
    void (*step)(std::FILE*&);
  } cases[] = {
      {"check after a block", [](std::FILE*& f) { check_output_file(f, kTableFileName); }},
      {"close", [](std::FILE*& f) { close_output_file(f, kTableFileName); }},
      {"checked write",
       [](std::FILE*& f) {
         const std::string more_than_a_buffer(1 << 16, 'x');
         const std::size_t wrote = std::fwrite(more_than_a_buffer.data(), 1, more_than_a_buffer.size(), f);
         check_write(f, kTableFileName, wrote == more_than_a_buffer.size());
       }},
  };
  for (const auto& c : cases) {
    ErrorCapture errors;
    std::FILE* f = open_output_file("/dev/full");
    ASSERT_NE(f, nullptr);
    ASSERT_GT(std::fputs("a block of text\n", f), 0);  // buffered: no error yet
    try {
      c.step(f);
      ADD_FAILURE() << c.what << ": the run goes on";
    } catch (const RunEnd& end) {
      EXPECT_EQ(end.status, 1) << c.what;
      EXPECT_TRUE(end.write_failure) << c.what;
    }
    EXPECT_EQ(errors.text(), message) << c.what;
    EXPECT_EQ(f, nullptr) << c.what << ": the failed stream is dropped";
  }
}

TEST(OutputFileChecks, GoodFilesPassAndClosedOnesAreSkipped) {
  TempWorkdir dir;
  ErrorCapture errors;
  std::FILE* f = open_output_file(dir.root() / "OK.TXT");
  ASSERT_NE(f, nullptr);
  ASSERT_GT(std::fputs("line\n", f), 0);
  check_output_file(f, "OK.TXT");
  EXPECT_EQ(contents(dir.root() / "OK.TXT"), "line\n") << "flushed by the check";
  check_write(f, "OK.TXT", true);
  close_output_file(f, "OK.TXT");
  std::FILE* none = nullptr;
  check_output_file(none, "OK.TXT");
  close_output_file(none, "OK.TXT");
  discard_output_file(none);
  EXPECT_EQ(errors.text(), "");
}

}  // namespace
}  // namespace varnalo
