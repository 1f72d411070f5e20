#pragma once

// plinket_server's main routine: start-up in its fixed order, the event loop, and the normal
// shutdown (settings saved, then endProgram). It never returns: every path ends through
// endProgram with exit code 0.

namespace plinket {

[[noreturn]] void runConsole(int argc, char** argv);

} // namespace plinket
