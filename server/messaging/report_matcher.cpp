#include "report_matcher.h"

#include <array>

namespace plinket {

namespace {

// Id 0 is what a missing or non-numeric ID field reads as, and the messageId of every record the
// current send has not reached: such a report would otherwise paint unsent recipients "Delivered".
// A record the Send reached by address takes reports from that address only: another host that knows
// (or guesses) the id and the workstation's name cannot answer for it. Records stamped by a broadcast
// take reports by name, as always.
bool accepts(const RecipientRecord& r, const ReportDatagram& report) {
    if (report.id == 0 || r.isGroup || r.messageId != report.id || r.deliveryStatus == STATUS_CONFIRMED)
        return false;
    if (r.sentTo)
        return *r.sentTo != 0 && *r.sentTo == report.senderIPv4;
    return r.host == report.senderAddress || r.host == report.host || r.host == report.fqdn;
}

} // namespace

ReportMatcher::ReportMatcher(const RecipientList& recipients) {
    for (int i = 0; i < recipients.size(); ++i) {
        const RecipientRecord& r = recipients.at(i);
        if (!r.isGroup)
            m_byHost[r.host].push_back(i);
    }
}

int ReportMatcher::match(const RecipientList& recipients, const ReportDatagram& report) const {
    // Up to four candidate lists (address, HOST, FQDN by host text; the records sent to the report's
    // address), each ascending; merge them so candidates are visited in list order, each once even when
    // two keys are the same text.
    std::array<const std::vector<int>*, 4> lists{};
    std::array<size_t, 4> at{};
    int count = 0;
    const auto add = [&](const std::vector<int>* list) {
        bool seen = list->empty();
        for (int k = 0; k < count; ++k)
            seen = seen || lists[size_t(k)] == list;
        if (!seen)
            lists[size_t(count++)] = list;
    };
    for (const QString* key : {&report.senderAddress, &report.host, &report.fqdn}) {
        const auto it = m_byHost.constFind(*key);
        if (it != m_byHost.constEnd())
            add(&it.value());
    }
    add(&recipients.recordsSentTo(report.senderIPv4));
    while (true) {
        int next = -1;
        for (int k = 0; k < count; ++k) {
            const std::vector<int>& list = *lists[size_t(k)];
            if (at[size_t(k)] < list.size() && (next < 0 || list[at[size_t(k)]] < next))
                next = list[at[size_t(k)]];
        }
        if (next < 0)
            return -1;
        for (int k = 0; k < count; ++k) {
            const std::vector<int>& list = *lists[size_t(k)];
            if (at[size_t(k)] < list.size() && list[at[size_t(k)]] == next)
                ++at[size_t(k)];
        }
        if (next < recipients.size() && accepts(recipients.at(next), report))
            return next;
    }
}

int matchByWalk(const RecipientList& recipients, const ReportDatagram& report) {
    for (int i = 0; i < recipients.size(); ++i)
        if (accepts(recipients.at(i), report))
            return i;
    return -1;
}

} // namespace plinket
