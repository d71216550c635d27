#include "foundation/process.h"

#include <cstdio>
#include <utility>

namespace varnalo {

namespace {
ErrorSink& error_sink() {
  static ErrorSink sink;
  return sink;
}
}  // namespace

void end_run(int status) { throw RunEnd{status}; }

void write_error(std::string_view text) {
  if (error_sink()) {
    error_sink()(text);
    return;
  }
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

ErrorSink set_error_sink(ErrorSink sink) { return std::exchange(error_sink(), std::move(sink)); }

}  // namespace varnalo
