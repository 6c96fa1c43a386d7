#include "MidiGenPlaceholder.h"

MidiGenPlaceholder::MidiGenPlaceholder(QObject *parent) : QObject(parent) {}

bool MidiGenPlaceholder::PlayString(const QByteArray &text)
{
    ++m_playRequests;
    m_lastPlayString = text;
    return false;
}
