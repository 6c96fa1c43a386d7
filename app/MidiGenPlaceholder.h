#pragma once

// Stands in for the tone generator on the main window until it is built: it accepts the settings
// and the play requests of a backup run, keeps them for inspection and plays nothing.

#include <QByteArray>
#include <QObject>

class MidiGenPlaceholder : public QObject
{
    Q_OBJECT
public:
    explicit MidiGenPlaceholder(QObject *parent = nullptr);

    // The settings a run writes, with the tone generator's defaults until then.
    qint32 Modulation() const { return m_modulation; }
    bool Sustain() const { return m_sustain; }
    qint32 PitchBend() const { return m_pitchBend; }
    quint32 Duration() const { return m_duration; }
    quint32 Loops() const { return m_loops; }

    void setModulation(qint32 value) { m_modulation = value; }
    void setSustain(bool value) { m_sustain = value; }
    void setPitchBend(qint32 value) { m_pitchBend = value; }
    void setDuration(quint32 value) { m_duration = value; }
    void setLoops(quint32 value) { m_loops = value; }

    // Records the request and returns false: nothing sounds, as with no MIDI output.
    bool PlayString(const QByteArray &text);

    // Placeholder only: the play requests received so far and the last play string.
    int playRequests() const { return m_playRequests; }
    const QByteArray &lastPlayString() const { return m_lastPlayString; }

private:
    qint32 m_modulation = 0;
    bool m_sustain = false;
    qint32 m_pitchBend = 0;
    quint32 m_duration = 50;
    quint32 m_loops = 1;
    int m_playRequests = 0;
    QByteArray m_lastPlayString;
};
