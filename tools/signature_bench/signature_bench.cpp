// Measures what signatures cost: the console signing one Send (the datagram is signed once, whatever the
// number of recipients), the client checking one message under its policy (signature, freshness and the
// replay record), how cheaply a client throws away forged datagrams, and what a signed report costs: the
// workstation signing its "1" or "2", the console reading and checking it and judging it against the
// pinned key. Prints the datagram overheads in bytes. Every loop is bounded in count; nothing is sent
// anywhere (the pin file goes to a temporary folder).
//
//   plinket_signature_bench [messages]     default 20000 per measurement, 5 rounds, medians printed

#include "message_gate.h"
#include "message_signature.h"
#include "protocol.h"
#include "workstation_keys.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace plinket;

namespace {

constexpr int ROUNDS = 5;

// Median over the rounds of the time per call in microseconds; `run` does `count` calls.
double medianMicroseconds(int count, const std::function<void(int round)>& run) {
    std::vector<double> perCall;
    for (int round = 0; round < ROUNDS; ++round) {
        QElapsedTimer timer;
        timer.start();
        run(round);
        perCall.push_back(double(timer.nsecsElapsed()) / 1000.0 / count);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

QString datagramText(int id, const QString& text) {
    return formatMessageDatagram(u"EN"_qs, QString::number(id), text, u"ADMIN-PC"_qs);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::clamp(std::atoi(argv[1]), 100, 20000) : 20000;
    const SigningKey key = *SigningKey::generate();
    const SigningKey stranger = *SigningKey::generate();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString shortText = u"Printer on floor 2 is out of paper"_qs;
    const QString longText(1860 - 22, u'x'); // the longest text a signed datagram can carry whole

    std::printf("datagram overhead: %d bytes (\"%s\" example: %lld unsigned, %lld signed)\n", SIGNATURE_OVERHEAD,
                qPrintable(shortText), qlonglong(datagramText(420195130, shortText).toUtf8().size()),
                qlonglong(signMessageDatagram(datagramText(420195130, shortText), key, now).toUtf8().size()));

    volatile qsizetype sink = 0;
    for (const QString* text : {&shortText, &longText}) {
        const QString datagram = datagramText(420195130, *text);
        const double us = medianMicroseconds(count, [&](int) {
            for (int i = 0; i < count; ++i)
                sink = sink + signMessageDatagram(datagram, key, now + i).size();
        });
        std::printf("sign one Send, %lld-byte datagram before signing: %.1f us\n", qlonglong(datagram.toUtf8().size()),
                    us);
    }

    // Distinct messages, a hundred per second of signing time, so that every check also records one more
    // message in the replay record (which stays at its bound and forgets the oldest).
    for (const QString* text : {&shortText, &longText}) {
        std::vector<QByteArray> valid;
        valid.reserve(size_t(count) * ROUNDS);
        for (int i = 0; i < count * ROUNDS; ++i)
            valid.push_back(signMessageDatagram(datagramText(i, *text), key, now - 590 + i / 100).toUtf8());
        ClientPolicy policy;
        policy.trustedKeys = {key.publicKey()};
        policy.requireSignature = true;
        MessageGate gate(policy);
        int dropped = 0;
        const double us = medianMicroseconds(count, [&](int round) {
            for (int i = 0; i < count; ++i) {
                const int n = round * count + i;
                dropped += gate.admit(valid[size_t(n)], QString::number(n), false, now).drop.has_value();
            }
        });
        std::printf("check one message (valid, remembered), %lld-byte datagram: %.1f us (%d dropped, %lld "
                    "remembered)\n",
                    qlonglong(valid.front().size()), us, dropped, qlonglong(gate.rememberedCount()));
    }

    ClientPolicy policy;
    policy.trustedKeys = {key.publicKey()};
    MessageGate gate(policy);
    QByteArray forged = signMessageDatagram(datagramText(1, shortText), stranger, now).toUtf8();
    QByteArray tampered = signMessageDatagram(datagramText(1, shortText), key, now).toUtf8();
    tampered[3] = 'X';
    for (const auto& [name, datagram] : {std::pair{"unknown key", &forged}, std::pair{"bad signature", &tampered}}) {
        const double us = medianMicroseconds(count, [&](int) {
            for (int i = 0; i < count; ++i)
                sink = sink + gate.admit(*datagram, u"1"_qs, false, now).drop.has_value();
        });
        std::printf("drop one forged message (%s): %.1f us\n", name, us);
    }

    // Signed reports: the workstation signs each "1" and "2"; the console checks the signature of a report
    // that matched a record and judges it against the key pinned for that record's host.
    const QByteArray report = formatReportDatagram(u"420195130"_qs, 2, u"PC-07"_qs, u"PC-07.CORP.LAN"_qs).toUtf8();
    const QByteArray signedReport = signReportDatagram(report, stranger, now);
    std::printf("report overhead: %lld bytes (%lld unsigned, %lld signed)\n",
                qlonglong(signedReport.size() - report.size()), qlonglong(report.size()),
                qlonglong(signedReport.size()));
    const double signUs = medianMicroseconds(count, [&](int) {
        for (int i = 0; i < count; ++i)
            sink = sink + signReportDatagram(report, stranger, now + i).size();
    });
    std::printf("sign one report (workstation): %.1f us\n", signUs);
    const double readUs = medianMicroseconds(count, [&](int) {
        for (int i = 0; i < count; ++i)
            sink = sink + readReportSignature(signedReport)->valid;
    });
    std::printf("read and check one signed report (console): %.1f us\n", readUs);
    QTemporaryDir folder;
    WorkstationKeys pins(folder.filePath(u"known-workstations"_qs), EventSource::Send,
                         [](const QString&, const QString&, const QString&) {});
    pins.expectMessageTime(now);
    const std::optional<ReportSignature> signature = readReportSignature(signedReport);
    (void)pins.judge(u"PC-07"_qs, u"10.0.0.7"_qs, signature); // pinned on first sight
    const double judgeUs = medianMicroseconds(count, [&](int) {
        for (int i = 0; i < count; ++i)
            sink = sink + int(pins.judge(u"PC-07"_qs, u"10.0.0.7"_qs, signature).trust);
    });
    std::printf("judge one checked report against its pinned key (console): %.2f us\n", judgeUs);
    return 0;
}
