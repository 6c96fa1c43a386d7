#pragma once

// File names are bytes, whatever their encoding; the windows show and edit them as text. Bytes
// that are not UTF-8 travel in the text as the code points U+DC80..U+DCFF, one per byte (lone
// low surrogates, which no UTF-8 text decodes to), so that the text of a name gives back the
// very bytes it was made from, also after the user has edited other parts of it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace noggix
{

// The text of the name bytes: its UTF-8 decoded, every other byte kept as U+DC00 + byte.
QString pathText(QByteArrayView bytes);

// The bytes of text: each kept byte as itself, everything else as UTF-8.
QByteArray pathBytes(const QString &text);

// text for the user to read: each kept byte shown as U+FFFD, the replacement character.
QString pathDisplay(const QString &text);

} // namespace noggix
