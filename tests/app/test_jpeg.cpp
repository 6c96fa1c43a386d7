// The libjpeg decoder on the dialog's picture and on damaged data.

#include "JpegImage.h"

#include <QFile>

#include <gtest/gtest.h>

namespace
{

QByteArray DialogPicture()
{
    QFile file(QStringLiteral(":/start.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(JpegImage, DecodesTheDialogPictureInColour)
{
    const QImage image = noggix::decodeJpeg(DialogPicture());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(220, 170));
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    bool coloured = false;
    for (int y = 0; y < image.height() && !coloured; y += 5)
        for (int x = 0; x < image.width() && !coloured; x += 5) {
            const QColor c = image.pixelColor(x, y);
            coloured = qAbs(c.red() - c.green()) > 40 || qAbs(c.green() - c.blue()) > 40;
        }
    EXPECT_TRUE(coloured);
}

TEST(JpegImage, DamagedDataGivesAnEmptyPicture)
{
    const QByteArray good = DialogPicture();
    ASSERT_GT(good.size(), 1000);

    EXPECT_TRUE(noggix::decodeJpeg({}).isNull());
    EXPECT_TRUE(noggix::decodeJpeg("not a picture at all").isNull());
    EXPECT_TRUE(noggix::decodeJpeg(good.left(2)).isNull());
    EXPECT_TRUE(noggix::decodeJpeg(good.left(good.size() / 2)).isNull()); // truncated

    QByteArray scrambled = good;
    for (qsizetype i = 200; i < scrambled.size() - 2; i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    EXPECT_TRUE(noggix::decodeJpeg(scrambled).isNull());

    // Every prefix of the header: none of them may crash or pass as a picture.
    for (qsizetype n = 0; n < 700 && n < good.size(); n += 13)
        EXPECT_TRUE(noggix::decodeJpeg(good.left(n)).isNull()) << n;
}
