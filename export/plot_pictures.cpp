// The four pictures of an analysis: their names, the child process that
// draws them and the files they are written to.
//
// The drawing process is forked from the run and leaves only through _exit,
// so it never flushes the run's stdio buffers, runs its exit handlers or
// unwinds into the run's own frames. It sends one record per picture, in
// writing order: the file's bytes, or why there are none. The run writes
// each file as its record comes, with every write checked.
#include "export/plot_pictures.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "export/plot_pictures_draw.h"
#include "foundation/output.h"
#include "foundation/output_files.h"
#include "foundation/process.h"

namespace varnalo {

namespace {

namespace fs = std::filesystem;

// The pictures of one number, in writing order.
struct PictureJob {
  PictureKind kind;
  PictureFormat format;
};
constexpr PictureJob kJobs[] = {{PictureKind::kSigmoid, PictureFormat::kPng},
                                {PictureKind::kSigmoid, PictureFormat::kSvg},
                                {PictureKind::kLinear, PictureFormat::kPng},
                                {PictureKind::kLinear, PictureFormat::kSvg}};

// A record from the drawing process: a tag, the payload's size, the payload
// (the file's bytes, the reason for a failure, or the name of a missing
// device).
enum class Tag : char { kPicture = 'P', kFailure = 'F', kNoDevice = 'N' };

// The screen line when PLplot lacks its PNG device.
constexpr const char* kNoPngNote =
    "  PNG pictures need PLplot's cairo driver (Debian package plplot-driver-cairo); only the "
    "SVG pictures were written.\n";

// Exit status of the drawing process: done, or stopped early (a failure
// sent, or the run no longer listening).
constexpr int kDrawingDone = 0;
constexpr int kDrawingStopped = 1;

// ---- the drawing process ----------------------------------------------------

// Passes all the bytes through the pipe with ::read or ::write, again after
// an interruption; false at its end (the other side gone) or on an error.
template <typename Transfer, typename Byte>
bool whole(Transfer transfer, int fd, Byte* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = transfer(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool send_bytes(int fd, const char* data, std::size_t size) {
  return whole(::write, fd, data, size);
}

bool send_record(int fd, Tag tag, const std::string& payload) {
  const std::uint64_t size = payload.size();
  const char tag_byte = static_cast<char>(tag);
  return send_bytes(fd, &tag_byte, 1) &&
         send_bytes(fd, reinterpret_cast<const char*>(&size), sizeof size) &&
         send_bytes(fd, payload.data(), payload.size());
}

// The body of the drawing process: draws the pictures in order and sends
// each; ends at the first failure. Its error stream goes to /dev/null: the
// run says in one line why a picture failed, from what PLplot tells its
// handlers, and PLplot's own lines there would only add to it.
[[noreturn]] void drawing_process(int fd, const PlotSeries& series) {
  const int quiet = ::open("/dev/null", O_WRONLY);
  if (quiet >= 0) ::dup2(quiet, STDERR_FILENO);
  try {
    const char* device = "";
    PictureDrawing drawing([fd, &device](const std::string& message) {
      send_record(fd, Tag::kFailure, strprintf("PLplot (%s device): %s", device, message.c_str()));
      ::_exit(kDrawingStopped);
    });
    for (const PictureJob& job : kJobs) {
      device = device_name(job.format);
      if (!device_available(job.format)) {
        if (!send_record(fd, Tag::kNoDevice, device)) ::_exit(kDrawingStopped);
        continue;
      }
      const DrawnPicture picture = drawing.draw(series, job.kind, job.format);
      const bool drawn = picture.failure.empty();
      if (!send_record(fd, drawn ? Tag::kPicture : Tag::kFailure,
                       drawn ? picture.bytes : picture.failure) ||
          !drawn)
        ::_exit(kDrawingStopped);
    }
  } catch (const std::bad_alloc&) {
    send_record(fd, Tag::kFailure, "the drawing ran out of memory");
    ::_exit(kDrawingStopped);
  } catch (...) {
    send_record(fd, Tag::kFailure, "the drawing failed");
    ::_exit(kDrawingStopped);
  }
  ::_exit(kDrawingDone);
}

// The run's end of a drawing process. Ending the run while the process
// still draws (a file that cannot be written) stops it and waits for it.
class DrawingProcess {
 public:
  DrawingProcess(const PlotSeries& series, const std::string& first_file) {
    int fds[2];
    if (::pipe(fds) != 0) fail_write(first_file, std::strerror(errno));
    pid_ = ::fork();
    if (pid_ < 0) {
      const int error = errno;
      ::close(fds[0]);
      ::close(fds[1]);
      fail_write(first_file, std::strerror(error));
    }
    if (pid_ == 0) {
      ::close(fds[0]);
      drawing_process(fds[1], series);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }
  ~DrawingProcess() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }
  DrawingProcess(const DrawingProcess&) = delete;
  DrawingProcess& operator=(const DrawingProcess&) = delete;

  // The next picture's bytes, or the device that would draw it when PLplot
  // lacks it (*missing); a failure of the drawing ends the run naming the
  // file.
  std::string next(const std::string& file, bool* missing) {
    char tag = 0;
    std::uint64_t size = 0;
    if (!receive(&tag, 1) || !receive(reinterpret_cast<char*>(&size), sizeof size))
      fail_write(file, "PLplot: " + ended_how());
    std::string payload(size, '\0');
    if (!receive(payload.data(), payload.size())) fail_write(file, "PLplot: " + ended_how());
    *missing = tag == static_cast<char>(Tag::kNoDevice);
    if (tag != static_cast<char>(Tag::kPicture) && !*missing) fail_write(file, payload);
    return payload;
  }

  // Waits for the process to end once every picture has come.
  void finish() {
    ::close(fd_);
    fd_ = -1;
    wait();
  }

 private:
  bool receive(char* data, std::size_t size) { return whole(::read, fd_, data, size); }

  // Reaps the process; its raw wait status.
  int wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

  // Why the drawing process stopped sending.
  std::string ended_how() {
    ::close(fd_);
    fd_ = -1;
    const int status = wait();
    if (WIFSIGNALED(status))
      return strprintf("the drawing ended on signal %d (%s)", WTERMSIG(status),
                       ::strsignal(WTERMSIG(status)));
    return strprintf("the drawing ended with status %d", WEXITSTATUS(status));
  }

  pid_t pid_ = -1;
  int fd_ = -1;
};

}  // namespace

std::vector<std::string> picture_names(int n) {
  return {strprintf("SIGMOID%03d.PNG", n), strprintf("SIGMOID%03d.SVG", n),
          strprintf("LINEAR%03d.PNG", n), strprintf("LINEAR%03d.SVG", n)};
}

int free_picture_number(const fs::path& dir) {
  for (int n = 1; n <= kMaxPictureNumber; ++n) {
    bool free = true;
    for (const std::string& name : picture_names(n)) {
      std::error_code error;
      const fs::file_status status = fs::symlink_status(dir / name, error);
      if (status.type() != fs::file_type::not_found) free = false;
    }
    if (free) return n;
  }
  return 0;
}

WrittenPictures write_plot_pictures(const fs::path& dir, const PlotSeries& series) {
  const int n = free_picture_number(dir);
  if (n == 0)
    fail_write(picture_names(kMaxPictureNumber)[0],
         strprintf("every picture number up to %03d is taken", kMaxPictureNumber));
  const std::vector<std::string> names = picture_names(n);
  WrittenPictures written;
  DrawingProcess drawing(series, names[0]);
  for (std::size_t i = 0; i < names.size(); ++i) {
    bool missing = false;
    const std::string bytes = drawing.next(names[i], &missing);
    if (!missing) {
      write_new_file(dir / names[i], names[i], bytes);
      written.names.push_back(names[i]);
    } else if (kJobs[i].format == PictureFormat::kPng) {
      written.png_missing = true;
    } else {
      fail_write(names[i], "PLplot has no '" + bytes + "' device (is its driver package installed?)");
    }
  }
  drawing.finish();
  return written;
}

std::string pictures_screen_text(const WrittenPictures& written) {
  std::string text = "  Pictures:";
  for (const std::string& name : written.names) text += " " + name;
  text += "\n";
  if (written.png_missing) text += kNoPngNote;
  return text;
}

}  // namespace varnalo
