#pragma once

// Runs the built midigen tool as its users do and collects what it printed.

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace tooltest
{

struct ToolRun {
    int status;      // exit status, -1 when the tool crashed
    QStringList out; // lines of standard output
    QStringList err; // lines of standard error

    std::string errText() const { return err.join('\n').toStdString(); }
};

inline ToolRun runTool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(MIDIGEN_TOOL), arguments);
    EXPECT_TRUE(process.waitForFinished(10000)) << "tool did not finish";
    const auto lines = [](const QByteArray &text) {
        return QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
    };
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            lines(process.readAllStandardOutput()), lines(process.readAllStandardError())};
}

} // namespace tooltest
