#include "report_matcher.h"

#include <array>

namespace plinket {

namespace {

// Id 0 is what a missing or non-numeric ID field reads as, and the messageId of every record the
// current send has not reached: such a report would otherwise paint unsent recipients "Delivered".
bool accepts(const RecipientRecord& r, const ReportDatagram& report) {
    return report.id != 0 && !r.isGroup && r.messageId == report.id && r.deliveryStatus != STATUS_CONFIRMED;
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
    // Up to three candidate lists (address, HOST, FQDN), each ascending; merge them so candidates are
    // visited in list order, each once even when two keys are the same text.
    std::array<const std::vector<int>*, 3> lists{};
    std::array<size_t, 3> at{};
    int count = 0;
    for (const QString* key : {&report.senderAddress, &report.host, &report.fqdn}) {
        const auto it = m_byHost.constFind(*key);
        if (it == m_byHost.constEnd())
            continue;
        bool seen = false;
        for (int k = 0; k < count; ++k)
            seen = seen || lists[size_t(k)] == &it.value();
        if (!seen)
            lists[size_t(count++)] = &it.value();
    }
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
    for (int i = 0; i < recipients.size(); ++i) {
        const RecipientRecord& r = recipients.at(i);
        const bool sameHost = r.host == report.senderAddress || r.host == report.host || r.host == report.fqdn;
        if (sameHost && accepts(r, report))
            return i;
    }
    return -1;
}

} // namespace plinket
