#pragma once

// Message boxes recorded instead of shown. In a test: a MessageBoxLog records every box of this
// process while it exists. In the test builds of the programs (linked with boxes_to_file.cpp):
// each box is appended as one JSON line to the file named by PLINKET_TEST_MESSAGE_BOXES, which
// readMessageBoxFile reads back.

#include "message_box.h"

#include <QList>

namespace plinket::test {

class MessageBoxLog {
public:
    MessageBoxLog();
    ~MessageBoxLog();
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;

    QList<ShownMessageBox> boxes;
};

void appendMessageBoxToFile(const QString& path, const ShownMessageBox& box);
QList<ShownMessageBox> readMessageBoxFile(const QString& path);

} // namespace plinket::test
