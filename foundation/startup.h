// Process set-up, called first thing in main.
//
// Makes sure descriptors 0, 1 and 2 are open: a program started with one of
// them closed (">&-", "2>&-") would otherwise hand that number to the next
// file it opens, and the screen dialogue or the error messages would land in
// REPORT.TXT. A closed one is bound to /dev/null (read side for 0, write side
// for 1 and 2).
//
// Also ignores SIGXFSZ, so that a write beyond a file-size limit fails with
// EFBIG and is reported like any other write error instead of killing the
// process.
//
// Returns false (after a line on the error stream, when it is open) when a
// closed descriptor could not be bound or the signal not ignored; the caller
// then ends with status 1.
#pragma once

namespace varnalo {

bool prepare_process();

}  // namespace varnalo
