#pragma once

// The data behind a TMGCompiledRequest, and the compile step that makes one from an event list
// and the settings of a play request.

#include "NoteEvent.h"
#include "StreamEncoder.h"
#include <midigen/CompiledRequest.h>

#include <QSharedData>

class TMGCompiledRequestData : public QSharedData
{
public:
    // The request of list and its bend-allowed flag: the list encoded with settings when it
    // holds an event (an empty list plays nothing, so it gets no stream), and what the stream's
    // size limit cut from it.
    static TMGCompiledRequest compile(const midigen::EventList &list, bool bendAllowed,
                                      const midigen::EncodeSettings &settings);

    QList<TMGNoteEvent> events;
    bool bendAllowed = false;
    bool hasNotes = false;
    QByteArray stream;
    qsizetype notesLeftOut = 0;
    qsizetype noteEndsLost = 0;
};
