// The compiled request: a play request's list, flag and stream, what the stream's limit cut,
// and the stream as a Standard MIDI File.

#include "CompiledRequest_p.h"
#include "StandardMidiFile.h"
#include <midiout/MidiMessages.h>

#include <algorithm>
#include <memory>
#include <span>

static_assert(TMGCompiledRequest::StreamEventSize == midiout::StreamEvent::Size);
static_assert(TMGCompiledRequest::MaxStreamEvents ==
              qsizetype(midigen::MaxStreamBytes / midiout::StreamEvent::Size));

namespace
{

// Note ons (with a velocity) and note offs (note ons without one) of a stream.
std::pair<qsizetype, qsizetype> notesOf(const midigen::StreamBuffer &buffer)
{
    qsizetype ons = 0, offs = 0;
    for (const auto &entry : midiout::StreamEvents(buffer.data(), buffer.size())) {
        const midiout::StreamEvent &event = entry.event;
        if (event.isShortMessage() &&
            (event.status() & midiout::StatusKindMask) == midiout::NoteOnStatus)
            ++(event.data2() != 0 ? ons : offs);
    }
    return {ons, offs};
}

} // namespace

TMGCompiledRequest TMGCompiledRequestData::compile(const midigen::EventList &list, bool bendAllowed,
                                                   const midigen::EncodeSettings &settings)
{
    auto data = std::make_unique<TMGCompiledRequestData>();
    data->events = QList<TMGNoteEvent>(list.begin(), list.end());
    data->bendAllowed = bendAllowed;
    data->hasNotes = midigen::HoldsNote(list);
    if (!list.empty()) {
        const midigen::StreamBuffer buffer = midigen::EncodeStream(list, settings, bendAllowed);
        data->stream =
            QByteArray(reinterpret_cast<const char *>(buffer.data()), qsizetype(buffer.size()));
        // The encoder drops what passes the stream's limit: notes, or the ends of notes begun.
        qsizetype notes = 0, ends = 0;
        for (const midigen::NoteEvent &event : list) {
            notes += event.kind == midigen::NoteOn ? 1 : 0;
            ends += event.kind == midigen::NoteOff ? 1 : 0;
        }
        const auto [ons, offs] = notesOf(buffer);
        data->notesLeftOut = notes - ons;
        data->noteEndsLost = std::max<qsizetype>(0, ends - offs - data->notesLeftOut);
    }
    return TMGCompiledRequest(data.release());
}

TMGCompiledRequest::TMGCompiledRequest() : d(new TMGCompiledRequestData) {}
TMGCompiledRequest::TMGCompiledRequest(TMGCompiledRequestData *data) : d(data) {}
TMGCompiledRequest::TMGCompiledRequest(const TMGCompiledRequest &other) = default;
TMGCompiledRequest::TMGCompiledRequest(TMGCompiledRequest &&other) noexcept = default;
TMGCompiledRequest &TMGCompiledRequest::operator=(const TMGCompiledRequest &other) = default;
TMGCompiledRequest &TMGCompiledRequest::operator=(TMGCompiledRequest &&other) noexcept = default;
TMGCompiledRequest::~TMGCompiledRequest() = default;

QList<TMGNoteEvent> TMGCompiledRequest::Events() const
{
    return d->events;
}

bool TMGCompiledRequest::BendAllowed() const
{
    return d->bendAllowed;
}

bool TMGCompiledRequest::HasNotes() const
{
    return d->hasNotes;
}

QByteArray TMGCompiledRequest::Stream() const
{
    return d->stream;
}

qsizetype TMGCompiledRequest::NotesLeftOut() const
{
    return d->notesLeftOut;
}

qsizetype TMGCompiledRequest::NoteEndsLost() const
{
    return d->noteEndsLost;
}

QByteArray TMGCompiledRequest::StandardMidiFile(QString *errorMessage) const
{
    const std::span stream(reinterpret_cast<const std::uint8_t *>(d->stream.constData()),
                           std::size_t(d->stream.size()));
    try {
        const std::vector<std::uint8_t> file = midigen::StandardMidiFile(stream);
        return QByteArray(reinterpret_cast<const char *>(file.data()), qsizetype(file.size()));
    } catch (const midigen::FileFormatError &error) {
        if (errorMessage)
            *errorMessage = QString::fromUtf8(error.what());
        return {};
    }
}
