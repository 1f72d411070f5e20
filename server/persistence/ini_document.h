#pragma once

// The INI dialect of the console's three files (config.ini, clients.ini, templates.ini).
//
// The whole file is read into an ordered list of entries; lookups, enumeration and writes work on
// that list, and close() rewrites the whole file when something was changed. Entries the program
// does not know (foreign groups, keys, comments) survive a rewrite in their place; empty lines do
// not. These files are edited by hand, so the byte layout below is fixed:
//   reading: a file starting with EF BB BF is UTF-8 (the mark is skipped), any other non-empty file
//            is ISO-8859-1; lines end at any run of CR and LF; leading blanks and tabs are skipped;
//            ";" starts a comment (one blank after it is dropped), "[" a header (name up to "]",
//            not trimmed), anything else is "key = value" (key right-trimmed, value left-trimmed).
//   writing: [EF BB BF CR LF] (always when an entry holds a byte beyond ASCII) then every entry followed by CR LF:
//   "[name]", "; text", "key = value";
//            with groupSeparator an empty line before every header but the first.
// Names and keys compare byte-wise with only ASCII letters folded; the first match wins.
//
// Entries are held as UTF-8 bytes, so an entry the program never touches is written back exactly,
// even when it is not valid UTF-8. The rewrite goes to a file beside the target that then replaces
// it, so a crash or a full disk during a save never leaves a cut file.

#include "regular_file.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace plinket {

struct IniEntry {
    enum class Kind : quint8 { GroupHeader, Comment, KeyValue };
    Kind kind = Kind::KeyValue;
    QByteArray name;  // group name, comment text or key
    QByteArray value; // KeyValue only: as it stood after "=", leading blanks removed
};

class IniDocument {
public:
    IniDocument() = default;
    ~IniDocument();
    IniDocument(const IniDocument&) = delete;
    IniDocument& operator=(const IniDocument&) = delete;

    // Reads an existing file. When it cannot be opened for writing it is still read, but the
    // document is readOnly and close() drops every change. False when it cannot be read at all:
    // openStatus() then tells a missing file from one that exists but cannot be read (which must
    // not be emptied or replaced). Only a regular file is read (see readRegularFile).
    bool open(const QString& path, bool groupSeparator = false);
    FileReadStatus openStatus() const { return m_openStatus; }
    // Creates the file, or empties an existing one; the document is empty and writes the mark.
    bool create(const QString& path);
    // Rewrites the file when modified, then forgets the document. True when nothing had to be
    // written or the file was replaced completely; false when changes were dropped (readOnly) or
    // the write failed, in which case the file keeps its previous content.
    bool close();

    bool isOpen() const { return m_open; }
    bool isReadOnly() const { return m_readOnly; }
    bool isModified() const { return m_modified; }
    // Read from a non-empty file or made by create(): written with the mark. A document read from
    // an empty file gets the mark too once it holds text beyond ASCII (see serialize).
    bool writesBom() const { return m_writeBom; }

    // Empty name: the area before the first header. Otherwise the first matching header; when none
    // matches the name is pending: reads give their defaults until a write appends the group.
    bool selectGroup(const QString& name);
    // The current group's place among the file's groups (0 for the first); -1 for the leading area or
    // a pending group.
    int groupOrdinal() const;
    QString readString(const QString& key, const QString& defaultValue) const;
    qint32 readInteger(const QString& key, qint32 defaultValue) const;
    void writeString(const QString& key, const QString& value);
    void writeInteger(const QString& key, qint32 value);
    // The value of the last key of the current group, whatever its name (the one an enumeration
    // of the group ends on). False, with nothing changed, when the group has no key or is pending.
    bool writeLastKey(const QString& value);
    bool removeGroup(const QString& name);

    void beginGroups();
    bool nextGroup();
    QString groupName() const;
    void beginKeys();
    bool nextKey();
    QString keyName() const;
    QString keyValue() const;

    // The whole document in its written form (what close() would write).
    QByteArray serialize() const;
    const QList<IniEntry>& entries() const { return m_entries; }

    // The parsing rules alone, for tests and tools: bytes of a file to entries.
    static QList<IniEntry> parse(const QByteArray& fileBytes);

private:
    int findKey(const QByteArray& key) const; // in the current group; -1 if absent or pending
    int groupEnd(int header) const;           // index of the next header after `header`, or size
    void clear();

    QString m_path;
    QList<IniEntry> m_entries;
    int m_currentGroup = -1; // index of the header entry; -1 is the leading area
    QByteArray m_pendingGroup;
    bool m_hasPending = false;
    bool m_groupSeparator = false;
    bool m_writeBom = false;
    bool m_modified = false;
    bool m_readOnly = false;
    bool m_open = false;
    FileReadStatus m_openStatus = FileReadStatus::Missing; // of the last open(), kept after close()
    int m_groupPos = -1;                                   // enumeration of groups: index of the current header
    int m_keyPos = -1;                                     // enumeration of keys: index of the current key entry
};

// ASCII-only case folding, as names and keys are matched in these files.
bool iniNamesEqual(const QByteArray& a, const QByteArray& b);
// Removes leading and trailing blanks and tabs.
QByteArray trimBlanksAndTabs(const QByteArray& text);
// Optional white space, optional sign, decimal digits up to the first other character; no digits
// give 0. Values beyond 32 bits are clamped.
qint32 parseIniInteger(const QByteArray& text);

} // namespace plinket
