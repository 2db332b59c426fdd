#include <gtest/gtest.h>

#include <QApplication>

// Test binaries run without a display: fall back to the offscreen platform so the
// window tests work under plain `ctest` as well as under Xvfb.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
