#include "command_line.h"
#include "console_app.h"
#include "working_folder.h"

using namespace plinket;

int main(int argc, char** argv) {
    // The console's options: one row each, {QCommandLineOption(...), handler}.
    const ProgramCommandLine commandLine{
        u"plinket_server"_qs,
        u"Plinket's console: sends messages to the workstations listed in clients.ini and shows their delivery. "
        "Keeps config.ini, clients.ini and templates.ini in the folder it is started in."_qs,
        {
            {QCommandLineOption({u"C"_qs, u"working-folder"_qs},
                                u"Keep the console's files in FOLDER instead of the current folder (created if "
                                "missing; a leading ~ stands for the home folder)."_qs,
                                u"FOLDER"_qs),
             enterWorkingFolder},
        }};
    if (const std::optional<int> exitCode = handleCommandLine(commandLine, argc, argv))
        return *exitCode;
    runConsole(argc, argv);
}
