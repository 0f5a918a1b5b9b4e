#pragma once
// The one QApplication of a test program, on Qt's offscreen platform unless a display
// was chosen. Every test file of a program must reach it through this function.
#include <QApplication>

#include <cstdlib>

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "pellwick-test";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app =
        QApplication::instance() ? qobject_cast<QApplication*>(QApplication::instance()) : new QApplication(argc, argv);
    return *app;
}
