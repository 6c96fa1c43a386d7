#pragma once

// The main window: the option boxes, the path of the backup file, the progress of a run and the
// button bar. It shows the backup run, which steps one checked item per tick of Timer1 and then
// writes the backup file.

#include "BackupRun.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class TMidiGen;
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

class TfrmMain : public QWidget, private noggix::BackupRunView
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
    // The backup run that the window shows.
    noggix::BackupRun &backupRun() const { return *run_; }

public slots:
    // Puts the default path into the path box; the run's item list starts empty.
    void FormCreate();
    // "Noggix now!": starts a backup run.
    void btnBackupClick();
    // One step of the run (see BackupRun::tick).
    void Timer1Timer();
    // "...": lets the user choose the backup file; a confirmed choice replaces the path.
    void SpeedButton1Click();
    // "Home Page": opens the home page in the desktop's browser.
    void btnHomeClick();
    // "Exit": closes the window, which ends the program.
    void btnExitClick();

private:
    // Starts a backup run (see BackupRun::start).
    void StartBackupRun();

    // What the run shows, on this window's controls.
    bool confirmReady() override;
    QStringList checkedItems() const override;
    QString backupPath() const override;
    // Disabling the run controls parks the keyboard focus of a run control on the window
    // itself, so that no other control takes it over; enabling them gives it back to that
    // control.
    void EnableControls(bool enabled) override;
    void showCheckMessage(const QString &text) override;
    void showItemFailure(const QString &text) override;
    int progress() const override;
    int progressMaximum() const override;
    void setProgress(int position) override;
    void setProgressMaximum(int maximum) override;
    void showItem(const QString &text) override;
    void reportFailures(const std::function<void()> &work) override;

    // The file chooser, made at its first use and kept, with the folder and the name chosen
    // in it, until the window closes.
    noggix::SaveFileChooser *saveDialog();

    std::unique_ptr<Ui::TfrmMain> ui;
    // Owned here alone, without a Qt parent: its destruction waits for its stream and lets
    // other events through meanwhile, so it must go while the window is still whole.
    std::unique_ptr<TMidiGen> MidiGen1;
    noggix::BackupRun *run_;
    noggix::SaveFileChooser *SaveDialog1 = nullptr;
    TfrmStart *frmStart = nullptr;
    // The run control that had the focus when the run controls were disabled.
    QPointer<QWidget> focusBeforeRun_;
};
