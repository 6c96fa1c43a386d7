#!/usr/bin/python3
"""Reads the Standard MIDI Files that `midigen export` writes with an independent reader (mido)
and compares every message and its absolute time with what `midigen dump` prints for the same
request. Usage: export_mido.py MIDIGEN"""

import os
import subprocess
import sys
import tempfile

import mido

TOOL = sys.argv[1]
failures = []

JINGLE_SETTINGS = ["--set", "Modulation=100", "--set", "Sustain=true", "--set", "Duration=400"]

# (what to play, settings): each exported and dumped.
CASES = [
    (["string", "I94,G3,100;I31,50;G4,B,G,G3,D4"], JINGLE_SETTINGS),
    # A pitch-bend ramp before the first note off.
    (["note", "60"], ["--set", "PitchBend=-120", "--set", "Duration=50"]),
    # Percussion on channel 9 from a melodic play channel, on the last channel.
    (["string", "I130,C,D,I5,E"], ["--set", "Channel=mgCh16", "--set", "Pan=-40"]),
    # Delta times of one to four bytes.
    (["string", "C;100,127;D,128;E,16384;F,3000000;G"], []),
    # Program changes alone: the preamble and the program changes, the first after a step.
    (["string", "243;I29;0935"], []),
    (["string", "I17,100;I130"], ["--set", "Channel=mgCh03"]),
    # The largest stream: cut at 5,461 events as the device would get it.
    (["string", ",".join(["C;1", "D;1"] * 1500)], []),
]


def run(arguments):
    result = subprocess.run([TOOL] + arguments, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise RuntimeError(f"midigen {' '.join(arguments)}: status {result.returncode}: {result.stderr}")
    return result.stdout


def dumped_messages(request, settings):
    """(absolute tick, message bytes) of every stream event that dump prints."""
    lines = run(["dump"] + request + settings).splitlines()
    messages, now = [], 0
    for line in lines[:-1]:
        raw = bytes.fromhex(line)
        now += int.from_bytes(raw[0:4], "little")
        status = raw[8]
        size = 2 if status & 0xF0 in (0xC0, 0xD0) else 3
        messages.append((now, list(raw[8 : 8 + size])))
    return messages


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


with tempfile.TemporaryDirectory() as folder:
    for number, (request, settings) in enumerate(CASES):
        name = f"export {' '.join(request)[:40]} {' '.join(settings)}"
        path = os.path.join(folder, f"case{number}.mid")
        run(["export"] + request + [path] + settings)
        expected = dumped_messages(request, settings)

        midi = mido.MidiFile(path)
        check(name, midi.type == 0, f"format {midi.type}")
        check(name, midi.ticks_per_beat == 50, f"division {midi.ticks_per_beat}")
        check(name, len(midi.tracks) == 1, f"{len(midi.tracks)} tracks")

        found, metas, now = [], [], 0
        for message in midi.tracks[0]:
            now += message.time
            if message.is_meta:
                metas.append((now, message.type))
            else:
                found.append((now, message.bytes()))
        check(name, len(found) == len(expected), f"{len(found)} messages, dump has {len(expected)}")
        for index, (got, wanted) in enumerate(zip(found, expected)):
            if got != wanted:
                check(name, False, f"message {index}: file {got}, dump {wanted}")
                break
        # Only the end of the track, right after the last message: no tempo, nothing else.
        last = expected[-1][0] if expected else 0
        check(name, metas == [(last, "end_of_track")], f"meta events {metas}")

        # At the default tempo the reader's clock gives 10 ms a tick.
        seconds = 0.0
        for message in midi:
            seconds += message.time
        check(name, abs(seconds - last * 0.01) < 1e-6, f"{seconds} s for {last} ticks")

    # One pass whatever Loops says.
    jingle = CASES[0]
    files = []
    for loops in ("1", "0", "3"):
        path = os.path.join(folder, f"loops{loops}.mid")
        run(["export"] + jingle[0] + [path] + jingle[1] + ["--set", f"Loops={loops}"])
        with open(path, "rb") as file:
            files.append(file.read())
    check("Loops", files[0] == files[1] == files[2], "files differ with Loops")

for failure in failures:
    print("FAIL", failure)
print(f"{len(CASES)} requests exported and read back, {len(failures)} differences")
sys.exit(1 if failures else 0)
