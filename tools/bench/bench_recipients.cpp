// Measures what a large recipient directory costs the console: loading clients.ini into the
// RecipientList, and one delivery-status or check update (with its aggregation up to the root).
// For comparison it also times the same status update done by rescanning the list for every
// ancestor. Every loop is bounded in count.
//
//   plinket_bench_recipients [clients] [updates]     defaults: 10000 clients, 200000 updates

#include "client_directory.h"
#include "recipient_list.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace plinket;

namespace {

// Top-level groups of five subgroups each; the clients are spread evenly over the subgroups.
QByteArray generateClientsFile(int clients, int* groupCount) {
    const int subgroups = std::max(1, clients / 20);
    const int topGroups = std::max(1, subgroups / 5);
    QByteArray text = "\xEF\xBB\xBF;Plinket Clients v2\r\n";
    int written = 0;
    int sub = 0;
    for (int g = 0; g < topGroups; ++g) {
        text += "\r\n[+Department " + QByteArray::number(g) + "]\r\n";
        const int subsHere = (g == topGroups - 1) ? subgroups - sub : 5;
        for (int s = 0; s < subsHere; ++s, ++sub) {
            text += "[+Room " + QByteArray::number(sub) + "]\r\n";
            const int here = (sub == subgroups - 1) ? clients - written : clients / subgroups;
            for (int c = 0; c < here; ++c, ++written) {
                text += "  PC-" + QByteArray::number(written) + " = 10." + QByteArray::number(written / 65536) + "." +
                        QByteArray::number(written / 256 % 256) + "." + QByteArray::number(written % 256) + "\r\n";
            }
            text += "[-Room " + QByteArray::number(sub) + "]\r\n";
        }
        text += "[-Department " + QByteArray::number(g) + "]\r\n";
    }
    *groupCount = topGroups + subgroups;
    return text;
}

// The status update as a full rescan per ancestor would do it.
void rescanAncestors(std::vector<RecipientRecord>& r, int index, quint8 value) {
    r[size_t(index)].deliveryStatus = value;
    for (int p = r[size_t(index)].parentIndex; p != -1; p = r[size_t(p)].parentIndex) {
        quint8 aggregate = 0;
        for (size_t j = size_t(p) + 1; j < r.size(); ++j) {
            if (r[j].parentIndex == p)
                aggregate |= r[j].deliveryStatus;
        }
        r[size_t(p)].deliveryStatus = aggregate;
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::clamp(atoi(argv[1]), 1, 1000000) : 10000;
    const int updates = argc > 2 ? std::clamp(atoi(argv[2]), 1, 10000000) : 200000;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    const QString path = dir.filePath(QStringLiteral("clients.ini"));
    int groups = 0;
    const QByteArray file = generateClientsFile(clients, &groups);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
        return 1;
    out.close();
    std::printf("clients.ini: %d clients in %d groups, %lld bytes\n", clients, groups, (long long)file.size());

    // Start-up path: the file check, the format check and the load.
    std::vector<double> loadMs;
    RecipientList list;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer t;
        t.start();
        ensureClientsFile(path);
        migrateClientsFile(path);
        list = loadRecipients(path);
        loadMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    int depth = 0;
    std::vector<int> clientIndices;
    for (int i = 0; i < list.size(); ++i) {
        depth = std::max(depth, int(list.at(i).level));
        if (!list.at(i).isGroup)
            clientIndices.push_back(i);
    }
    std::printf("load (ensure + migrate + loadRecipients): median %.2f ms, best %.2f ms over %zu runs; "
                "%d records, depth %d\n",
                median(loadMs), *std::min_element(loadMs.begin(), loadMs.end()), loadMs.size(), list.size(), depth);

    QRandomGenerator rng(42);
    std::vector<int> picks(static_cast<size_t>(updates));
    for (int& p : picks)
        p = clientIndices[rng.bounded(quint32(clientIndices.size()))];
    const quint8 statuses[] = {STATUS_DELIVERED, STATUS_CONFIRMED, STATUS_NOT_DELIVERED};

    QElapsedTimer t;
    qint64 sink = 0;
    t.start();
    for (int i = 0; i < updates; ++i)
        sink += list.recordReport(picks[size_t(i)], statuses[i % 3], QStringLiteral("12:00:00")).size();
    const double statusNs = double(t.nsecsElapsed()) / updates;
    std::printf("status update (recordReport, icons up to the root): %.0f ns per update over %d updates\n", statusNs,
                updates);

    t.restart();
    for (int i = 0; i < updates; ++i)
        sink += list.toggleCheck(picks[size_t(i)]).size();
    const double checkNs = double(t.nsecsElapsed()) / updates;
    std::printf("check update (toggleCheck on a client): %.0f ns per update over %d updates\n", checkNs, updates);

    const int groupToggles = std::min(updates, 2000);
    t.restart();
    for (int i = 0; i < groupToggles; ++i)
        sink += list.toggleCheck(list.children(0)[int(rng.bounded(quint32(list.children(0).size())))]).size();
    std::printf("check update (toggleCheck on a top-level group, ~%d records below): %.0f ns per update\n",
                clients / std::max(1, int(list.children(0).size())), double(t.nsecsElapsed()) / groupToggles);

    t.restart();
    sink += list.toggleCheck(0).size();
    std::printf("check update (toggleCheck on All clients): %.3f ms\n", double(t.nsecsElapsed()) / 1e6);

    t.restart();
    sink += list.resetDeliveryState().size();
    std::printf("resetDeliveryState: %.3f ms\n", double(t.nsecsElapsed()) / 1e6);

    // The same status updates with a rescan per ancestor, on fewer updates (each costs a pass
    // over the list per ancestor).
    std::vector<RecipientRecord> plain = list.records();
    const int rescans = std::min(updates, 300);
    t.restart();
    for (int i = 0; i < rescans; ++i)
        rescanAncestors(plain, picks[size_t(i)], statuses[i % 3]);
    std::printf("for comparison, status update by rescanning per ancestor: %.0f ns per update over %d updates\n",
                double(t.nsecsElapsed()) / rescans, rescans);

    // A deep directory: 100 groups nested in one another, the clients spread over the levels.
    {
        constexpr int levels = 100;
        QByteArray deep = "\xEF\xBB\xBF;Plinket Clients v2\r\n";
        for (int level = 0; level < levels; ++level) {
            deep += "[+Level " + QByteArray::number(level) + "]\r\n";
            for (int c = 0; c < clients / levels; ++c)
                deep += "  PC-" + QByteArray::number(level) + "-" + QByteArray::number(c) + " = HOST\r\n";
        }
        QFile deepFile(path);
        if (!deepFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || deepFile.write(deep) != deep.size())
            return 1;
        deepFile.close();
        RecipientList deepList = loadRecipients(path);
        std::vector<int> leaves;
        for (int i = 0; i < deepList.size(); ++i) {
            if (!deepList.at(i).isGroup && deepList.at(i).level > levels / 2)
                leaves.push_back(i);
        }
        t.restart();
        for (int i = 0; i < updates; ++i)
            sink += deepList.recordReport(leaves[size_t(i) % leaves.size()], statuses[i % 3], QString()).size();
        std::printf("deep directory (%d nested groups): status update %.0f ns per update at depth > %d\n", levels,
                    double(t.nsecsElapsed()) / updates, levels / 2);
    }
    return sink == -1 ? 1 : 0;
}
