// GTest main for the window tests: one QApplication for the whole run (offscreen under CTest).
#include <gtest/gtest.h>

#include <QApplication>

#include "net/URLSource2.h"

int main(int argc, char** argv) {
    qm::URLSource2Init();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
