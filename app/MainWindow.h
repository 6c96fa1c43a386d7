#pragma once

// The main window: the option boxes, the path of the backup file, the progress of a run and the
// button bar. It runs the backup: one checked item per tick of Timer1, then the backup file.

#include <QStringList>
#include <QWidget>

#include <memory>

class TMidiGen;
class QFileDialog;
class QTimer;
class TfrmStart;

namespace midiout
{
class Output;
}

namespace Ui
{
class TfrmMain;
}

class TfrmMain : public QWidget
{
    Q_OBJECT
public:
    // Loads the layout, creates the components and runs FormCreate. The jingle plays on the
    // machine's MIDI output devices.
    explicit TfrmMain(QWidget *parent = nullptr);
    // The same with the jingle on the devices of output, which must outlive the window.
    explicit TfrmMain(midiout::Output &output, QWidget *parent = nullptr);
    // Stops the run and the jingle before the components go.
    ~TfrmMain() override;

    // The "Get ready!" dialog that StartBackupRun shows; must be set before the first run.
    void setStartDialog(TfrmStart *dialog) { frmStart = dialog; }

public slots:
    // Puts the default path into the path box and starts with an empty item list.
    void FormCreate();
    // "Noggix now!": starts a backup run.
    void btnBackupClick();
    // One step of a run: plays the jingle, names the next item, steps the bar, may fail at
    // random, and writes the backup file when the bar is full.
    void Timer1Timer();
    // "...": lets the user choose the backup file; a confirmed choice replaces the path.
    void SpeedButton1Click();
    // "Home Page": opens the home page in the desktop's browser.
    void btnHomeClick();
    // "Exit": closes the window, which ends the program.
    void btnExitClick();

private:
    // Shows the "Get ready!" dialog, collects the checked items, checks them and the path, and
    // starts the timer with the first tick at once.
    void StartBackupRun();
    // Enables or disables the run controls: the path group, the options and "Noggix now!".
    void EnableControls(bool enabled);
    // Writes the backup file at path; throws noggix::Failure when it cannot.
    void WriteBackupFile(const QString &path);
    // The file chooser, made at its first use (it costs more to build than the whole window)
    // and kept, with the choice made in it, until the window closes.
    QFileDialog *saveDialog();
    // A tick of Timer1 as it arrives from the event queue; dropped once the timer is off.
    void Timer1Due();

    std::unique_ptr<Ui::TfrmMain> ui;
    QStringList FItems;
    TMidiGen *MidiGen1;
    QTimer *Timer1;
    QFileDialog *SaveDialog1 = nullptr;
    TfrmStart *frmStart = nullptr;
};
