#pragma once

// The console's one end path after a message box (start-up failure, busy report port) and after a
// normal close once the settings are saved: exit code 0, nothing saved, worker threads not waited
// for. Buffered output is flushed; the operating system releases sockets, files and windows.
// No destructors or exit handlers run, so a worker thread still using the recipient list cannot
// meet a destroyed one.

namespace plinket {

[[noreturn]] void endProgram();

} // namespace plinket
