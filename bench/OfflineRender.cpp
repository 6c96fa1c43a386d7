#include "OfflineRender.h"

#include "SinkLevels.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

namespace bench
{

std::vector<std::int16_t> renderOffline(const QByteArray &text, const QStringList &settings)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("render.wav"));
    QStringList args{QStringLiteral("render"), QStringLiteral("string"), QString::fromLatin1(text),
                     wav};
    for (const QString &setting : settings)
        args << QStringLiteral("--set") << setting;
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/midigen"), args);
    QFile file(wav);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll().mid(44); // the writer's 44-byte header
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

double riseMs(const std::vector<std::int16_t> &samples)
{
    std::size_t first = samples.size();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const int level = std::abs(int(samples[i]));
        if (level != 0 && first == samples.size())
            first = i;
        if (level >= Above30dBFS)
            return double(i / 2 - first / 2) * 1000.0 / MonitorRecorder::Rate;
    }
    return -1;
}

} // namespace bench
