#pragma once

// The MIDI vocabulary of a stream buffer: the 12-byte stream event, the status bytes of the short
// messages it carries and the General MIDI percussion channel.

#include <cstddef>
#include <cstdint>

namespace midiout
{

// Status bytes of short messages: the high nibble; the low nibble is the channel.
inline constexpr std::uint8_t NoteOffStatus = 0x80;
inline constexpr std::uint8_t NoteOnStatus = 0x90; // with velocity 0 it ends the note
inline constexpr std::uint8_t ControlChangeStatus = 0xB0;
inline constexpr std::uint8_t ProgramChangeStatus = 0xC0;
inline constexpr std::uint8_t PitchBendStatus = 0xE0;
inline constexpr std::uint8_t StatusKindMask = 0xF0;
inline constexpr std::uint8_t StatusChannelMask = 0x0F;
// A data byte holds 7 bits.
inline constexpr std::uint8_t DataByteMask = 0x7F;

// MIDI channels are 0 .. ChannelCount - 1; General MIDI plays percussion on channel 9 (the
// tenth), whose notes are drum keys.
inline constexpr int ChannelCount = 16;
inline constexpr std::uint8_t PercussionChannel = 9;
// The status byte of a message kind on a channel (low 4 bits of channel used).
constexpr std::uint8_t StatusByte(std::uint8_t kind, std::uint8_t channel)
{
    return std::uint8_t(kind | (channel & StatusChannelMask));
}

// One stream event in a buffer: three little-endian 32-bit words.
struct StreamEvent {
    static constexpr std::size_t Size = 12;
    static constexpr std::uint32_t CallbackFlag = 0x40000000; // in the event word
    // Event type 0 (bits 24..29 of the event word) is a short message; other types carry none.
    static constexpr std::uint32_t TypeMask = 0x3F000000;

    std::uint32_t delta = 0;    // ticks since the previous event in the buffer
    std::uint32_t streamId = 0; // always 0
    std::uint32_t event = 0;    // status | data1 << 8 | data2 << 16 | type << 24 (+ CallbackFlag)

    // A short message; callback makes the device report when it is played.
    static constexpr StreamEvent shortMessage(std::uint32_t delta, std::uint8_t status,
                                              std::uint8_t data1, std::uint8_t data2,
                                              bool callback = false)
    {
        return {delta, 0,
                std::uint32_t(status) | std::uint32_t(data1) << 8 | std::uint32_t(data2) << 16 |
                    (callback ? CallbackFlag : 0)};
    }

    // The event stored at bytes (Size bytes are read).
    static StreamEvent decode(const std::uint8_t *bytes)
    {
        return {readWord(bytes), readWord(bytes + 4), readWord(bytes + 8)};
    }
    // Writes the event's Size bytes to out.
    void encode(std::uint8_t *out) const
    {
        writeWord(out, delta);
        writeWord(out + 4, streamId);
        writeWord(out + 8, event);
    }

    bool isShortMessage() const { return (event & TypeMask) == 0; }
    bool hasCallback() const { return (event & CallbackFlag) != 0; }
    std::uint8_t status() const { return std::uint8_t(event); }
    std::uint8_t data1() const { return std::uint8_t(event >> 8); }
    std::uint8_t data2() const { return std::uint8_t(event >> 16); }

    static std::uint32_t readWord(const std::uint8_t *p)
    {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    static void writeWord(std::uint8_t *out, std::uint32_t word)
    {
        out[0] = std::uint8_t(word);
        out[1] = std::uint8_t(word >> 8);
        out[2] = std::uint8_t(word >> 16);
        out[3] = std::uint8_t(word >> 24);
    }

    friend bool operator==(const StreamEvent &, const StreamEvent &) = default;
};

// The events of a buffer of stream events, in order, each with its index and its tick counted
// from the buffer's start; a partial event at the end is left out:
//     for (const StreamEvents::Entry &entry : StreamEvents(data, length)) ...
class StreamEvents
{
public:
    struct Entry {
        StreamEvent event;
        std::size_t index = 0;
        std::uint64_t tick = 0;
    };
    class Iterator
    {
    public:
        Iterator(const std::uint8_t *data, std::size_t count, std::size_t index)
            : data_(data), count_(count), entry_{{}, index, 0}
        {
            load();
        }
        const Entry &operator*() const { return entry_; }
        const Entry *operator->() const { return &entry_; }
        Iterator &operator++()
        {
            ++entry_.index;
            load();
            return *this;
        }
        bool operator!=(const Iterator &other) const { return entry_.index != other.entry_.index; }

    private:
        void load()
        {
            if (entry_.index >= count_)
                return;
            entry_.event = StreamEvent::decode(data_ + entry_.index * StreamEvent::Size);
            entry_.tick += entry_.event.delta;
        }
        const std::uint8_t *data_;
        std::size_t count_;
        Entry entry_;
    };

    StreamEvents(const std::uint8_t *data, std::size_t length)
        : data_(data), count_(data != nullptr ? length / StreamEvent::Size : 0)
    {
    }
    Iterator begin() const { return {data_, count_, 0}; }
    Iterator end() const { return {data_, count_, count_}; }
    std::size_t size() const { return count_; }

private:
    const std::uint8_t *data_;
    std::size_t count_;
};

} // namespace midiout
