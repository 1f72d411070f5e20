#pragma once

// clients.ini, the administrator's hand-edited recipient directory, and the RecipientList built
// from it. The file is never written back, except once by the conversion of an old-format file.
//
// Layout (an IniDocument file): the first line after the byte-order mark is ";Plinket Clients v2";
// "[+name]" opens a group, any other header closes the innermost open group; "name = host" lines
// are clients of the innermost open group (of the root after the last closing header). Key lines
// before the first header are not read.

#include "recipient_list.h"

#include <QString>

namespace plinket {

inline constexpr char CLIENTS_VERSION_LINE[] = ";Plinket Clients v2";

// Makes sure clients.ini exists: a file that can be read is left alone; a missing one is created
// with the mark and the version line. False when it cannot be created, or when it exists but cannot
// be read (permissions, not a regular file, too large), which leaves it untouched: the console then
// shows errClientsFile and ends.
bool ensureClientsFile(const QString& clientsPath);

enum class MigrationStatus {
    Current,      // first line is the version line: nothing to do
    NotReadable,  // the file could not be read: nothing done
    Converted,    // converted; the old content is in clients.ini.bak
    BackupExists, // not converted: a different clients.ini.bak is in the way
    BackupFailed, // not converted: the backup could not be written completely
    WriteFailed,  // not converted: the converted file could not be written (the backup exists)
    MarkerAdded,  // already in the group format, only the version line was missing: it was added
    MarkerFailed, // already in the group format, but the missing version line could not be added
};

struct MigrationResult {
    MigrationStatus status = MigrationStatus::Current;
    QString backupPath;
    QString detail; // the system's reason for a failure, when there is one

    // When true the administrator should be told (migrationNotice): the file is loaded as it is.
    bool needsNotice() const {
        return status == MigrationStatus::BackupExists || status == MigrationStatus::BackupFailed ||
               status == MigrationStatus::WriteFailed || status == MigrationStatus::MarkerAdded ||
               status == MigrationStatus::MarkerFailed;
    }
    // A notice that reports a problem (not just the line that was added).
    bool isProblem() const { return needsNotice() && status != MigrationStatus::MarkerAdded; }
};

// Converts an old-format clients.ini (flat "[name]" groups) to the current format. The conversion
// goes ahead only once the complete old content is safely in clients.ini.bak; an existing backup
// is never overwritten (one with exactly the current content counts as made). The converted file
// replaces clients.ini in one step. Lines are carried over byte for byte.
// A file without the version line that is already in the group format ("[+name]" headers and no
// other kind than "[-name]") is not converted, which would nest every group once more: the version
// line is put in front of it, with the byte-order mark kept as it was, and nothing else changes.
MigrationResult migrateClientsFile(const QString& clientsPath);

// The converted content for an old-format file's bytes (without any leading byte-order mark).
QByteArray convertOldClientsFile(const QByteArray& oldBytes);

// A message for the administrator about a conversion that did not happen, in "RU" or "EN".
QString migrationNotice(const MigrationResult& result, const QString& languageCode);

// Builds the list from clients.ini: the root (name "MSG_Broadcast"), then every group and client
// in file order. A file that cannot be read gives the root alone. A closing header with no group
// open is ignored, so nothing ever lands beside the root.
RecipientList loadRecipients(const QString& clientsPath);

} // namespace plinket
