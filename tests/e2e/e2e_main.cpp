#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/event_loop.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    brimlet::testing::useTestDisplay();
    const QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
