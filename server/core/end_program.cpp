#include "end_program.h"

#include <cstdio>
#include <cstdlib>

namespace plinket {

void endProgram() {
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace plinket
