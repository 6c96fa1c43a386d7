#pragma once

// The main() of the Qt Test programs (QtTestMain.cpp): it puts the process on the offscreen
// platform unless QT_QPA_PLATFORM names another, prepares the environment, makes the
// QApplication and runs the test object's slots. Each program defines qtTestProgram().

#include <QApplication>
#include <QObject>

#include <functional>
#include <memory>

namespace testsupport
{

struct QtTestProgram {
    // Before the application exists: what it reads from the environment when it starts.
    std::function<void()> prepare;
    // Once it exists: what the program under test sets up on it, then the test object.
    std::function<std::unique_ptr<QObject>(QApplication &)> makeTest;
};

// Defined by each Qt Test program.
QtTestProgram qtTestProgram();

} // namespace testsupport
