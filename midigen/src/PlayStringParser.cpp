#include "PlayStringParser.h"
#include <midiout/MidiMessages.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace midigen
{

namespace
{

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
using midiout::PercussionChannel;

// Semitone numbers, each followed by the note name it belongs to. LookupNoteName searches the
// whole text, so any substring of it is a name that can be found.
constexpr std::string_view NoteTable =
    "00C01C+01C#02D01D-03D+03D#04E03E-05F06F+06F#07G06G-08G+08G#09A08A-10A+10A#11B10B-";
static_assert(NoteTable.size() == 81);

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Codes 0..32 (NUL, the other control characters and the blank) are trimmed at both ends of the
// play string and of every token.
bool isTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isTrimmed(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isTrimmed(s.back()))
        s.remove_suffix(1);
    return s;
}

// Only the ASCII letters have an upper case here; every other byte stands for itself.
char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The one number syntax of the language: an optional sign, then decimal digits within the signed
// 32-bit range, or "$", "X" or "0X" and at most 8 significant hexadecimal digits read as a signed
// 32-bit value. Anything else, an empty text included, yields fallback.
std::int32_t readNumber(std::string_view s, std::int32_t fallback)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (s.starts_with('$') || s.starts_with('X')) {
        hex = true;
        s.remove_prefix(1);
    } else if (s.starts_with("0X")) {
        hex = true;
        s.remove_prefix(2);
    }
    if (s.empty())
        return fallback;

    if (hex) {
        std::uint32_t value = 0;
        int significant = 0;
        for (char c : s) {
            const int digit = hexDigit(c);
            if (digit < 0)
                return fallback;
            if ((significant > 0 || digit != 0) && ++significant > 8)
                return fallback;
            value = (value << 4) | static_cast<std::uint32_t>(digit);
        }
        // Two's complement negation; "-$80000000" stays the lowest value.
        if (negative)
            value = 0u - value;
        return static_cast<std::int32_t>(value);
    }

    std::int64_t value = 0;
    for (char c : s) {
        if (!isDigit(c))
            return fallback;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{Int32Max} + 1)
            return fallback;
    }
    if (negative)
        value = -value;
    if (value > Int32Max)
        return fallback;
    return static_cast<std::int32_t>(value);
}

// The semitone in front of the first occurrence of an upper-case name in the note table, or -1.
std::int32_t lookupUpperCase(std::string_view name)
{
    if (name.empty())
        return -1;
    const std::size_t position = NoteTable.find(name);
    if (position == std::string_view::npos)
        return -1;
    if (position < 2)
        return 0;
    return readNumber(NoteTable.substr(position - 2, 2), 0);
}

void appendDecimal(std::string &out, std::int32_t value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The play string trimmed, upper-cased (ASCII letters only; other bytes stay as they are) and
// stripped of blanks.
std::string preprocessed(const QByteArray &text)
{
    const std::string_view s = trimmed(std::string_view(text.constData(), text.size()));
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == ' ')
            continue;
        out += asciiUpper(c);
    }
    return out;
}

// What the sound text of a token names.
struct Sound {
    bool isInstrument = false;
    std::int32_t instrument = -1; // I; an instrument token has I >= 0
    std::int32_t note = -1;       // note number, -1 when the token has none
};

// The state of one play string: running values that tokens without a field of their own take,
// and the events appended so far.
class Parser
{
public:
    Parser(const ParseSettings &settings, EventList &list)
        : list_(list),
          // Lengths are 32-bit signed values; a larger default length is taken as the largest.
          defaultLength_(static_cast<std::int32_t>(
              std::min<std::uint32_t>(settings.duration, static_cast<std::uint32_t>(Int32Max)))),
          playChannel_(settings.playChannel), currentOctave_(settings.octave),
          currentChannel_(settings.instrument > 127 || settings.playChannel == PercussionChannel
                              ? PercussionChannel
                              : settings.playChannel),
          currentInstrument_(settings.instrument)
    {
    }

    bool bendAllowed() const { return bendAllowed_; }

    // Rewrites a trimmed, non-empty token as "step;sound;length", cuts it apart again and
    // emits what it describes.
    void parseToken(std::string_view token)
    {
        normalise(token);
        const std::string_view canonical(canonical_);

        const std::size_t firstSeparator = canonical.find(';');
        const std::int32_t step = readNumber(canonical.substr(0, firstSeparator), -1);
        if (step >= 0)
            currentStep_ = step;
        if (step != 0)
            bendAllowed_ = false;

        const std::string_view rest = canonical.substr(firstSeparator + 1);
        const std::size_t secondSeparator = rest.find(';');
        std::string_view soundText;
        std::string_view lengthText = rest;
        if (secondSeparator != std::string_view::npos) {
            soundText = rest.substr(0, secondSeparator);
            lengthText = rest.substr(secondSeparator + 1);
        }

        const Sound sound = classify(soundText);

        const std::int32_t length = readNumber(lengthText, -1);
        if (length > 0) {
            if (lastDuration_ >= 0 && lastDuration_ != length)
                bendAllowed_ = false;
            lastDuration_ = length;
        }

        emitEvents(step, length, sound);
    }

private:
    void normalise(std::string_view token)
    {
        // A token that does not begin with a digit gets ";" in front, and one that then begins
        // with ";" gets the current step in front of that.
        canonical_.clear();
        const bool addSeparator = !isDigit(token.front()) && token.front() != ';';
        if (addSeparator || token.front() == ';')
            appendDecimal(canonical_, currentStep_);
        if (addSeparator)
            canonical_ += ';';
        canonical_ += token;
        if (std::count(canonical_.begin(), canonical_.end(), ';') <= 1)
            canonical_ += ';';
        if (canonical_.back() == ';') {
            if (lastDuration_ < 0)
                lastDuration_ = defaultLength_;
            appendDecimal(canonical_, lastDuration_);
        }
    }

    Sound classify(std::string_view s)
    {
        Sound sound;
        // A token without a sound never sounds and leaves the octave alone.
        if (s.empty())
            return sound;

        if (s.size() >= 2 && s.front() == 'I') {
            sound.instrument = readNumber(s.substr(1), -1);
            if (sound.instrument >= 0) {
                sound.isInstrument = true;
                return sound;
            }
        }
        if (s.size() >= 2 && s.front() == 'N') {
            const std::int32_t raw = readNumber(s.substr(1), -1);
            if (raw >= 0 && raw <= 127) {
                sound.note = raw;
                return sound;
            }
        }

        // A note name, one letter or a letter and an accidental, then its octave; a name
        // without an octave takes the current one.
        std::string named(s);
        if (named.size() < 2 || !isDigit(named.back()))
            appendDecimal(named, currentOctave_);
        const std::size_t nameLength = isDigit(named[1]) ? 1 : 2;
        const std::int32_t octave = readNumber(std::string_view(named).substr(nameLength), -1);
        if (octave < 0 || octave > 10)
            return sound;
        const std::int32_t semitone =
            lookupUpperCase(std::string_view(named).substr(0, nameLength));
        if (semitone < 0)
            return sound;
        currentOctave_ = octave;
        sound.note = semitone + 12 * octave;
        return sound;
    }

    void emitEvents(std::int32_t step, std::int32_t length, const Sound &sound)
    {
        if (step < 0 || length < 0)
            return;
        const bool instrument =
            sound.isInstrument && sound.instrument >= 0 && sound.instrument <= 174;
        const bool note = !sound.isInstrument && sound.note >= 0 && sound.note <= 127;
        if (!instrument && !note)
            return;

        runningTime_ += step;

        if (instrument) {
            if (sound.instrument > 127) {
                currentChannel_ = PercussionChannel;
                currentInstrument_ = static_cast<std::uint8_t>(sound.instrument);
            } else {
                currentChannel_ = playChannel_;
            }
            // A program change on the percussion play channel would select a drum kit; the
            // running time has advanced all the same.
            if (playChannel_ != PercussionChannel && runningTime_ <= Int32Max)
                append(runningTime_, ProgramChange, sound.instrument);
            return;
        }

        const std::int32_t value =
            currentChannel_ == PercussionChannel && playChannel_ != PercussionChannel
                ? currentInstrument_
                : sound.note;
        const std::int64_t noteOff =
            runningTime_ + (lastDuration_ >= 0 ? lastDuration_ : defaultLength_);
        // Times are 32-bit: a note that would end past the last tick is left out whole, so that
        // no event carries a wrapped time and every note on has its note off.
        if (noteOff > Int32Max)
            return;
        append(runningTime_, NoteOn, value);
        append(noteOff, NoteOff, value);
    }

    void append(std::int64_t time, NoteEventKind kind, std::int32_t value)
    {
        list_.push_back({static_cast<std::int32_t>(time), kind, value, currentChannel_});
    }

    EventList &list_;
    const std::int32_t defaultLength_;
    const std::uint8_t playChannel_;
    std::string canonical_;        // the token being read, as "step;sound;length"
    std::int64_t runningTime_ = 0; // 64-bit so that many long steps cannot overflow it
    std::int32_t currentStep_ = 0;
    std::int32_t lastDuration_ = -1; // -1: not set
    std::int32_t currentOctave_;
    std::uint8_t currentChannel_;
    std::uint8_t currentInstrument_;
    bool bendAllowed_ = true;
};

// CompareEvents(a, b) < 0, without computing the difference.
bool goesBefore(const NoteEvent &a, const NoteEvent &b)
{
    if (a.time != b.time)
        return a.time < b.time;
    return a.kind == ProgramChange && b.kind != ProgramChange;
}

// Sorts the positions left..right. Segments that a partition step separates are disjoint and
// each is sorted by the same steps whichever goes first, so the smaller one is recursed into and
// the larger one looped over; that bounds the depth of the recursion by the logarithm of the
// count without changing the resulting order.
void quickSort(EventList &list, std::ptrdiff_t left, std::ptrdiff_t right)
{
    for (;;) {
        std::ptrdiff_t i = left;
        std::ptrdiff_t j = right;
        // Kept by value: the pivot stays the same event while swaps move it.
        const NoteEvent pivot = list[static_cast<std::size_t>((left + right) / 2)];
        do {
            while (goesBefore(list[static_cast<std::size_t>(i)], pivot))
                ++i;
            while (goesBefore(pivot, list[static_cast<std::size_t>(j)]))
                --j;
            if (i <= j) {
                std::swap(list[static_cast<std::size_t>(i)], list[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);

        const bool sortLeft = left < j;
        const bool sortRight = i < right;
        if (sortLeft && sortRight) {
            if (j - left < right - i) {
                quickSort(list, left, j);
                left = i;
            } else {
                quickSort(list, i, right);
                right = j;
            }
        } else if (sortLeft) {
            right = j;
        } else if (sortRight) {
            left = i;
        } else {
            return;
        }
    }
}

} // namespace

bool ParsePlayString(const QByteArray &text, const ParseSettings &settings, EventList &list)
{
    const std::string s = preprocessed(text);
    if (s.empty())
        return false;

    // Room for a note per token up to a little more than a stream holds, so that the list of a
    // long play string is not copied as it grows.
    const std::size_t tokens = static_cast<std::size_t>(std::count(s.begin(), s.end(), ',')) + 1;
    list.reserve(list.size() + 2 * std::min<std::size_t>(tokens, 4096));

    Parser parser(settings, list);
    std::string_view rest(s);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view token = rest.substr(0, comma);
        if (token.empty()) {
            rest.remove_prefix(1);
            continue;
        }
        const std::string_view content = trimmed(token);
        // A token of control characters only, such as a line break, ends the play string.
        if (content.empty())
            break;
        parser.parseToken(content);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }

    SortEvents(list);
    return parser.bendAllowed();
}

std::int32_t LookupNoteName(const QByteArray &name)
{
    std::string upper(name.constData(), static_cast<std::size_t>(name.size()));
    std::transform(upper.begin(), upper.end(), upper.begin(), asciiUpper);
    return lookupUpperCase(upper);
}

std::int32_t CompareEvents(const NoteEvent &a, const NoteEvent &b)
{
    // The time difference, saturated to 32 bits: for event times within 0..INT32_MAX, which is
    // all the parser produces, it is the plain 32-bit difference, and for any other times it
    // still orders them consistently instead of wrapping.
    const std::int64_t difference = std::int64_t{a.time} - b.time;
    if (difference != 0) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(
            difference, std::numeric_limits<std::int32_t>::min(), Int32Max));
    }
    const bool aIsProgramChange = a.kind == ProgramChange;
    const bool bIsProgramChange = b.kind == ProgramChange;
    if (aIsProgramChange && !bIsProgramChange)
        return -1;
    if (bIsProgramChange && !aIsProgramChange)
        return 1;
    return 0;
}

void SortEvents(EventList &list)
{
    if (list.size() > 1)
        quickSort(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1);
}

} // namespace midigen
