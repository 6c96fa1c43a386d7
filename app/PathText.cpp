#include "PathText.h"

namespace noggix
{
namespace
{

constexpr char16_t KeptByteBase = 0xDC00;

bool isKeptByte(QChar c)
{
    return c.unicode() >= KeptByteBase + 0x80 && c.unicode() <= KeptByteBase + 0xFF;
}

// The length of the well-formed UTF-8 sequence at bytes[at] (1 to 4), or 0 when none begins
// there: no overlong forms, no surrogates, nothing above U+10FFFF.
int sequenceLength(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return quint8(bytes[i]); };
    const quint8 lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    quint8 low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString pathText(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = sequenceLength(bytes, at);
        if (length == 0) {
            text += QChar(char16_t(KeptByteBase + quint8(bytes[at])));
            ++at;
        } else {
            text += QString::fromUtf8(bytes.sliced(at, length));
            at += length;
        }
    }
    return text;
}

QByteArray pathBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype start = 0; // of the run of ordinary text not yet encoded
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isKeptByte(text[i]) || (i > 0 && text[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(text).sliced(start, i - start).toUtf8();
        bytes += char(text[i].unicode() - KeptByteBase);
        start = i + 1;
    }
    bytes += QStringView(text).sliced(start).toUtf8();
    return bytes;
}

QString pathDisplay(const QString &text)
{
    QString shown = text;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (isKeptByte(shown[i]) && !(i > 0 && shown[i - 1].isHighSurrogate()))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

} // namespace noggix
