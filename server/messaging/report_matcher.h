#pragma once

// Finds the record a report belongs to. A record the Send reached by address (per-recipient mode; a
// name counts as the address it resolved to) matches a report only from that address. A record stamped
// by a broadcast matches by name: its host equals the report's sender address, HOST or FQDN (exact,
// case-sensitive; hosts are stored upper-cased and clients send upper-cased names). Either way its
// messageId must equal the report's id. Confirmed records are passed over; the first other match, in
// list order, is the one the report updates. A report with id 0 (a missing or non-numeric ID field)
// matches nothing, so only records the current send stamped can change.
//
// The walk over every record costs 10,000 comparisons per report in a large office. The host texts
// never change after loading, so the matcher builds, once, a map from host text to the indices of the
// client records that carry it, and the list keeps the records by the address they were sent to; a
// report then visits only those candidates, in list order, with the same result as the full walk.
//
// Groups (and the root) never match: their host is empty, and in broadcast mode they carry the id, so
// a report with empty HOST and FQDN would otherwise overwrite a group's aggregate image.

#include "protocol.h"
#include "recipient_list.h"

#include <QHash>
#include <QString>

#include <vector>

namespace plinket {

class ReportMatcher {
public:
    ReportMatcher() = default;
    // Reads only the host texts and group flags, which never change; call under recipientsLock.
    explicit ReportMatcher(const RecipientList& recipients);

    // Index of the record `report` updates, or -1. Call under recipientsLock.
    int match(const RecipientList& recipients, const ReportDatagram& report) const;

private:
    QHash<QString, std::vector<int>> m_byHost; // indices in ascending (list) order
};

// The full walk in list order, kept as the reference the index is tested against.
int matchByWalk(const RecipientList& recipients, const ReportDatagram& report);

} // namespace plinket
