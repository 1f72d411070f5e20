#pragma once

// templates.ini: stored messages, one group per template. The header line is the template's name,
// the key "1" holds the body with every line break written as "|". The file starts with the
// byte-order mark on a line of its own and has one empty line between templates. When reading,
// the last key of a group is the body, whatever its name.

#include <QList>
#include <QString>

#include <optional>

namespace plinket {

struct TemplateRecord {
    QString header; // the name shown in the list and the group name in the file
    QString body;   // lines separated by CR LF
};

// Record i is entry i of the template list.
class TemplateCatalog {
public:
    int size() const { return int(m_records.size()); }
    bool isEmpty() const { return m_records.isEmpty(); }
    const TemplateRecord& at(int index) const { return m_records[index]; }
    const QList<TemplateRecord>& records() const { return m_records; }
    // The first record whose header matches with ASCII letter case ignored, as in the file; -1 if none.
    int indexOfHeader(const QString& header) const;

    void append(TemplateRecord record) { m_records.append(std::move(record)); }
    void replace(int index, TemplateRecord record) { m_records[index] = std::move(record); }
    void removeAt(int index) { m_records.removeAt(index); }
    void clear() { m_records.clear(); }

private:
    QList<TemplateRecord> m_records;
};

// Every template of the file, in file order; empty when the file cannot be read.
TemplateCatalog loadTemplates(const QString& templatesPath);

struct TemplateDraft {
    QString header;
    QString body;
};

// What "Save template" stores for the editor's text: '"header" body' (blanks trimmed, anything
// after a third double quote dropped), or, without a leading double quote, the text as the new
// body of the selected template. Nothing when there is no header or no body.
std::optional<TemplateDraft> templateFromEditor(const QString& editorText, int selectedIndex,
                                                const TemplateCatalog& catalog);

// Every line break of a body (CR LF, a lone CR or a lone LF) as CR LF.
QString normaliseLineBreaks(const QString& body);

enum class TemplateSaveStatus {
    Saved,
    NothingToSave, // empty header or body: nothing happens, no message
    WriteFailed,   // the file could not be written: show errSaveTemplate; the catalog is unchanged
};

struct [[nodiscard]] TemplateSaveResult {
    TemplateSaveStatus status = TemplateSaveStatus::NothingToSave;
    int index = -1;        // the record saved
    bool appended = false; // a new record (and list entry) at the end
};

// Stores one template: an existing group of that header (ASCII case ignored) gets the new body in
// place, otherwise the template is appended to the file and to the catalog. The file is read afresh,
// so changes made to it by hand are kept.
TemplateSaveResult saveTemplate(const QString& templatesPath, TemplateCatalog& catalog, const QString& header,
                                const QString& body);

// Removes the first group named `header` from the file and record `index` (-1: none) from the
// catalog. False, with the catalog unchanged, when the file could not be read or written.
bool removeTemplate(const QString& templatesPath, TemplateCatalog& catalog, const QString& header, int index);

} // namespace plinket
