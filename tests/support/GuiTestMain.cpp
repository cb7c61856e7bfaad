// The main of the GUI tests: a QApplication for the whole run, on the
// offscreen platform unless the environment asks for another, so that the
// tests (and their listing at build time) need no display; the program's
// images registered, as the program does at start-up.

#include "gui/res/ResourceImages.h"

#include <QApplication>
#include <QByteArray>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    ::testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    const ImageResources images;
    return RUN_ALL_TESTS();
}
