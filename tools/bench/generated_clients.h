#pragma once

// A clients.ini of `entries` clients for the benchmarks, in one of two shapes: "grouped" (rooms of
// 50 clients, four rooms to a department) or flat (every client directly under the root, all of them
// rows of the expanded root). Addresses are 10.x.y.z, one per client.

#include <QByteArray>

inline QByteArray generatedClientsIni(int entries, bool grouped) {
    QByteArray out = "\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n";
    // Client lines before the first header are not read: a flat directory starts with an empty
    // group, after whose closing header every client belongs to the root.
    if (!grouped)
        out += "[+Staff]\r\n[-Staff]\r\n";
    int written = 0;
    for (int group = 0; written < entries; ++group) {
        if (grouped) {
            if (group % 4 == 0)
                out += "[+Department " + QByteArray::number(group / 4) + "]\r\n";
            out += "[+Room " + QByteArray::number(group) + "]\r\n";
        }
        for (int i = 0; i < 50 && written < entries; ++i, ++written)
            out += "  PC-" + QByteArray::number(written) + " = 10." + QByteArray::number((written >> 16) & 255) + '.' +
                   QByteArray::number((written >> 8) & 255) + '.' + QByteArray::number(written & 255) + "\r\n";
        if (grouped) {
            out += "[-Room " + QByteArray::number(group) + "]\r\n";
            if (group % 4 == 3 || written >= entries)
                out += "[-Department " + QByteArray::number(group / 4) + "]\r\n";
        }
    }
    return out;
}
