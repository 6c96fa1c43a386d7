#pragma once

// What the program entry sets up before the message loop: names, icon, fonts and the two windows.

#include <QFont>
#include <QString>

#include <memory>

class QApplication;
class TfrmMain;

namespace midiout
{
class Output;
}

namespace noggix
{

// Captions the main window's message dialogs and the failure report.
inline const QString ApplicationTitle = QStringLiteral("Noggix");
// The id shared by the .desktop file and the icon.
inline const QString DesktopFileName = QStringLiteral("org.noggix.Noggix");

// The font of both windows: Liberation Sans at 8 points where it is installed, else the sans
// serif that the font matcher puts in its place, at 8 points.
QFont windowFont();

// The font of the "Get ready!" text: Liberation Sans (Arial's metric twin) with a character
// height of 29 pixels.
QFont dialogLabelFont();

// Sets the application's name, desktop file name, icon and font.
void setUpApplication(QApplication &app);

// Creates the main window, which fills its path box and then creates the hidden "Get ready!"
// dialog that it owns and shows at every run.
// The jingle plays on the devices of output.
std::unique_ptr<TfrmMain> createApplicationWindows(midiout::Output &output);
std::unique_ptr<TfrmMain> createApplicationWindows();

} // namespace noggix
