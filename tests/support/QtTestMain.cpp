#include "QtTestMain.h"

#include <QTest>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const testsupport::QtTestProgram program = testsupport::qtTestProgram();
    if (program.prepare)
        program.prepare();
    QApplication app(argc, argv);
    const std::unique_ptr<QObject> test = program.makeTest(app);
    return QTest::qExec(test.get(), argc, argv);
}
