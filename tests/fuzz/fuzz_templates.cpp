// templates.ini and "Save template": the input is the file, a NUL, the editor's text (UTF-8), a NUL
// and the selected entry as one digit ("0" the first entry; anything else, or nothing, for none). After the save the
// list holds what a restart reads back: the same templates in the same order, each with the same body (headers compared
// with ASCII case ignored, as the file matches them).
//
// Known limits of the file format, not checked: a "|" in a body comes back as a line break, and a
// header with "]" or a line break comes back cut.

#include "fuzz_target.h"
#include "ini_document.h"
#include "templates.h"

using namespace plinket;
using plinket::fuzz::check;

PLINKET_FUZZ_TARGET(templates) {
    const QList<QByteArray> parts = fuzz::bytesOf(data, size).split('\0');
    const QString path = fuzz::scratchPath(u"templates.ini"_qs);
    fuzz::putFile(path, parts.value(0));
    const QString editorText = QString::fromUtf8(parts.value(1));
    const char digit = parts.value(2).isEmpty() ? 'x' : parts.value(2).at(0);
    const int selected = digit >= '0' && digit <= '9' ? digit - '0' : -1;

    TemplateCatalog catalog = loadTemplates(path);
    const std::optional<TemplateDraft> draft = templateFromEditor(editorText, selected, catalog);
    if (!draft)
        return 0;
    const TemplateSaveResult result = saveTemplate(path, catalog, draft->header, draft->body);
    check(result.status != TemplateSaveStatus::WriteFailed, "a writable file did not take the template");
    if (result.status != TemplateSaveStatus::Saved)
        return 0;
    // A header with "]" or a line break writes a header line that reads back cut, or as several lines.
    if (draft->header.contains(u']') || draft->header.contains(u'\r') || draft->header.contains(u'\n'))
        return 0;

    const TemplateCatalog reloaded = loadTemplates(path);
    check(reloaded.size() == catalog.size(), "the list and the file hold a different number of templates");
    for (int i = 0; i < std::min(reloaded.size(), catalog.size()); ++i) {
        const TemplateRecord& shown = catalog.at(i);
        const TemplateRecord& read = reloaded.at(i);
        check(iniNamesEqual(read.header.toUtf8(), shown.header.toUtf8()), "a header reads back differently");
        if (i != result.index || !shown.body.contains(u'|'))
            check(read.body == shown.body, "a body reads back differently");
    }
    return 0;
}
