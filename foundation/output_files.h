// The four output files: opening them safely and making sure that what is
// written reaches them.
//
// open_output_file opens a file of the working folder for appending. It
// refuses (returns nullptr) a file marked read-only and anything that is
// neither a regular file nor a character device: a FIFO, a socket, a
// directory, a block device. It never blocks: a FIFO without a reader is
// refused at once. A character device (/dev/null, a terminal, /dev/full) is
// accepted, so that output can be thrown away or watched; a device that then
// refuses the data fails at the first checked write.
//
// Writes are checked in two ways. The report helper checks each of its
// writes where it happens (check_write). Everything else written with
// fprintf is checked at the end of its block: check_output_file flushes the
// stream and tests its sticky error indicator, close_output_file does the
// same and checks the close. A failure writes one line naming the file and
// the reason, "  CAN'T WRITE 'REPORT.TXT': No space left on device", to the
// error stream, drops the stream (what reached the file stays there) and ends
// the run with status 1 (a RunEnd marked as a write failure).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace varnalo {

inline constexpr const char* kReportFileName = "REPORT.TXT";
inline constexpr const char* kTableFileName = "TABLE.TXT";
inline constexpr const char* kSigmoidFileName = "SIGMOID.TXT";
inline constexpr const char* kLinearFileName = "LINEAR.TXT";

std::FILE* open_output_file(const std::filesystem::path& path);

// written: the result of the write just made (false when it wrote less).
void check_write(std::FILE*& f, const char* name, bool written);
void check_output_file(std::FILE*& f, const char* name);
void close_output_file(std::FILE*& f, const char* name);

// Closes f without checking, for a run that is already ending on a
// reported failure: the data still buffered is handed to the system.
void discard_output_file(std::FILE*& f);

// Writes "  CAN'T WRITE 'file': reason" to the error stream and ends the run
// with status 1.
[[noreturn]] void fail_write(const std::string& file, const std::string& reason);

// Creates the file at path (never replacing one) and writes the bytes; a
// failure removes the incomplete file and fails as fail_write, naming it by
// `file`. For the result files and the pictures, one per analysis.
void write_new_file(const std::filesystem::path& path, const std::string& file,
                    const std::string& bytes);

}  // namespace varnalo
