#include "command_line.h"
#include "console_app.h"
#include "signing_key_file.h"
#include "working_folder.h"

#include <QDir>
#include <QSysInfo>

#include <cstdio>

using namespace plinket;

namespace {

// Makes the console's signing key pair in its working folder (after --working-folder, which comes
// first in the table) and ends: 0 when both files were written, 1 otherwise.
std::optional<int> generateKey(const QString&) {
    const KeyGeneration result = generateSigningKey(QDir::currentPath() + u'/', QSysInfo::machineHostName().toUpper());
    std::fputs(keyGenerationReport(result).toLocal8Bit().constData(), result.ok ? stdout : stderr);
    return result.ok ? 0 : 1;
}

} // namespace

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
            {QCommandLineOption(u"generate-key"_qs,
                                u"Make the key pair the console signs its messages with: signing.key (readable by "
                                "you only) and signing.pub (to copy to the workstations) in the working folder, "
                                "then end. An existing key is never replaced."_qs),
             generateKey},
        }};
    if (const std::optional<int> exitCode = handleCommandLine(commandLine, argc, argv))
        return *exitCode;
    runConsole(argc, argv);
}
