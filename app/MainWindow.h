#pragma once

// The main window: the option boxes, the path of the backup file, the progress of a run and the
// button bar. It runs the backup: one checked item per tick of Timer1, then the backup file.

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class TMidiGen;
class QTimer;
class TfrmStart;

namespace midiout
{
class Output;
}

namespace noggix
{
class SaveFileChooser;
}

namespace Ui
{
class TfrmMain;
}

class TfrmMain : public QWidget
{
    Q_OBJECT
public:
    // Loads the layout, creates the components, runs FormCreate and then creates the hidden
    // "Get ready!" dialog that every run shows. The jingle plays on the machine's MIDI output
    // devices.
    explicit TfrmMain(QWidget *parent = nullptr);
    // The same with the jingle on the devices of output, which must outlive the window.
    explicit TfrmMain(midiout::Output &output, QWidget *parent = nullptr);
    // Stops the run and the jingle before the components go.
    ~TfrmMain() override;

    // The window's tone generator, which plays the jingle of every tick.
    TMidiGen &midiGen() const { return *MidiGen1; }

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
    // Disabling them parks the keyboard focus of a run control on the window itself, so that no
    // other control takes it over; enabling them gives it back to that control.
    void EnableControls(bool enabled);
    // Writes the backup file at path; throws noggix::Failure when it cannot.
    void WriteBackupFile(const QString &path);
    // The file chooser, made at its first use and kept, with the folder and the name chosen
    // in it, until the window closes.
    noggix::SaveFileChooser *saveDialog();
    // A tick of Timer1 as it arrives from the event queue; dropped once the timer is off.
    // A failure that escapes it is shown as the failure report.
    void Timer1Due();

    std::unique_ptr<Ui::TfrmMain> ui;
    QStringList FItems;
    // Owned here alone, without a Qt parent: its destruction waits for its stream and lets
    // other events through meanwhile, so it must go while the window is still whole.
    std::unique_ptr<TMidiGen> MidiGen1;
    QTimer *Timer1;
    noggix::SaveFileChooser *SaveDialog1 = nullptr;
    TfrmStart *frmStart = nullptr;
    // The run control that had the focus when the run controls were disabled.
    QPointer<QWidget> m_focusBeforeRun;
};
