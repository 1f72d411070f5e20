#include "command_line.h"
#include "console_app.h"

using namespace plinket;

int main(int argc, char** argv) {
    // The console's own options join the list as {QCommandLineOption(...), handler}.
    const ProgramCommandLine commandLine{
        u"plinket_server"_qs,
        u"Plinket's console: sends messages to the workstations listed in clients.ini and shows their delivery. "
        "Keeps config.ini, clients.ini and templates.ini in the folder it is started in."_qs,
        {}};
    if (const std::optional<int> exitCode = handleCommandLine(commandLine, argc, argv))
        return *exitCode;
    runConsole(argc, argv);
}
