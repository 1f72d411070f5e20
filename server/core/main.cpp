#include "console_app.h"

int main(int argc, char** argv) {
    plinket::runConsole(argc, argv);
}
