#include "client_icon.h"

#include "program_icons.h"

namespace plinket {

QIcon clientIcon() {
    return programIcon(ProgramIcon::Client);
}

} // namespace plinket
