// Prints the journal message catalog generated from the event text table; resources/plinket.catalog
// is this output (tests compare the two).
#include "event_texts.h"

#include <cstdio>

int main() {
    const QByteArray text = plinket::journalCatalog().toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return 0;
}
