#pragma once

// The part of the MIDI vocabulary that only the library's own sources use: the controller
// numbers of a stream's preamble and of bank selection, and the bank of the percussion presets.
// Both layers take them from here, so each is defined once.

#include <midiout/MidiMessages.h>

#include <cstdint>

namespace midiout
{

// The percussion channel's bank of presets in a General MIDI SoundFont.
inline constexpr int PercussionBank = 128;

// Controller numbers (first data byte of a control change).
namespace controller
{
inline constexpr std::uint8_t BankSelect = 0;
inline constexpr std::uint8_t Modulation = 1;
inline constexpr std::uint8_t DataEntryHigh = 6;
inline constexpr std::uint8_t Volume = 7;
inline constexpr std::uint8_t Pan = 10;
inline constexpr std::uint8_t Sustain = 64;
inline constexpr std::uint8_t Reverb = 91;
inline constexpr std::uint8_t Chorus = 93;
inline constexpr std::uint8_t RpnLow = 100;  // registered parameter number, low 7 bits
inline constexpr std::uint8_t RpnHigh = 101; // registered parameter number, high 7 bits
inline constexpr std::uint8_t AllSoundOff = 120;
inline constexpr std::uint8_t ResetAllControllers = 121;
inline constexpr std::uint8_t AllNotesOff = 123;
} // namespace controller

} // namespace midiout
