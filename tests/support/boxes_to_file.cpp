// Linked only into the test builds of the programs: when PLINKET_TEST_MESSAGE_BOXES names a file,
// every message box is appended to it (recorded_boxes.h) instead of being shown, so a test can run
// the program as a child process and read what it would have shown.

#include "recorded_boxes.h"

namespace {

void appendToNamedFile(const plinket::ShownMessageBox& box) {
    plinket::test::appendMessageBoxToFile(qEnvironmentVariable("PLINKET_TEST_MESSAGE_BOXES"), box);
}

[[maybe_unused]] const bool g_installed = [] {
    if (qEnvironmentVariableIsEmpty("PLINKET_TEST_MESSAGE_BOXES"))
        return false;
    plinket::setMessageBoxSink(appendToNamedFile);
    return true;
}();

} // namespace
