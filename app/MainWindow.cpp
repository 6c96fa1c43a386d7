#include "MainWindow.h"

#include "Anchors.h"
#include "AppSetup.h"
#include "BackupFileWriter.h"
#include "CaptionFit.h"
#include "DefaultPath.h"
#include "FailureReport.h"
#include "SaveFileChooser.h"
#include "ScreenFit.h"
#include "SharedRandom.h"
#include "StartDialog.h"
#include "ui_MainWindow.h"
#include <midigen/MidiGen.h>

#include <midiout/Output.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

namespace
{

const QByteArray Jingle = QByteArrayLiteral("I94,G3,100;I31,50;G4,B,G,G3,D4");
const QString HomePage = QStringLiteral("https://noggix.example.org/");
constexpr int TickInterval = 10000;

// The text without the characters of code 32 or less at either end.
QString TrimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= u' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The message dialog of the program's own checks: the application title, no icon, one OK
// button, centred on the screen.
void ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, noggix::ApplicationTitle, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

TfrmMain::TfrmMain(QWidget *parent) : TfrmMain(midiout::Output::system(), parent) {}

TfrmMain::TfrmMain(midiout::Output &output, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmMain>()),
      MidiGen1(std::make_unique<TMidiGen>(output)), Timer1(new QTimer(this))
{
    ui->setupUi(this);
    setFont(noggix::WindowFont());
    noggix::FitCaptions(this);
    ui->Label1->adjustSize(); // the label sizes itself to its text
    noggix::InstallAnchors(this);
    move(192, 114);
    noggix::KeepWithinScreen(this);

    MidiGen1->setObjectName(QStringLiteral("MidiGen1"));

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TickInterval);
    Timer1->setTimerType(Qt::PreciseTimer);
    // Queued, so that the timer event has returned before the tick runs: a timer does not fire
    // again while its own event is being handled, and a tick must be able to run behind the
    // error box that an earlier tick keeps open.
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Due, Qt::QueuedConnection);

    ui->btnHome->setFocus();
    FormCreate();
    frmStart = new TfrmStart(this);
}

TfrmMain::~TfrmMain()
{
    // No tick may come while the window goes; the tone generator ends its jingle at once and
    // returns once its stream has closed.
    Timer1->stop();
    MidiGen1.reset();
}

void TfrmMain::FormCreate()
{
    FItems.clear();
    ui->edtSaveTo->setText(noggix::DefaultBackupPath(noggix::DocumentsFolder()));
}

void TfrmMain::btnBackupClick()
{
    noggix::ReportFailures(this, [this] { StartBackupRun(); });
}

void TfrmMain::StartBackupRun()
{
    EnableControls(false);
    if (frmStart->exec() == TfrmStart::CancelResult) {
        EnableControls(true);
        return;
    }

    MidiGen1->setModulation(100);
    MidiGen1->setSustain(true);
    MidiGen1->setPitchBend(0);
    MidiGen1->setDuration(400);
    MidiGen1->setLoops(1);

    FItems.clear();
    for (QObject *child : ui->gbxOptions->children()) {
        const auto *box = qobject_cast<QCheckBox *>(child);
        if (box && box->isChecked())
            FItems.append(box->text());
    }

    // A bar keeps its position within a narrowed range, as a native progress bar does.
    const int position = ui->ProgressBar1->value();
    ui->ProgressBar1->setMaximum(int(FItems.size()));
    if (position > ui->ProgressBar1->maximum())
        ui->ProgressBar1->setValue(ui->ProgressBar1->maximum());

    if (FItems.isEmpty()) {
        ShowMessage(QStringLiteral("Please, select one or more items to backup!"));
        EnableControls(true);
        return;
    }
    if (TrimControls(ui->edtSaveTo->text()).isEmpty()) {
        ShowMessage(QStringLiteral("Please, specify output file!"));
        EnableControls(true);
        return;
    }

    ui->ProgressBar1->setValue(0);
    Timer1->start();
    Timer1Timer();
}

void TfrmMain::Timer1Due()
{
    if (Timer1->isActive())
        noggix::ReportFailures(this, [this] { Timer1Timer(); });
}

void TfrmMain::Timer1Timer()
{
    MidiGen1->PlayString(Jingle);

    const int position = ui->ProgressBar1->value();
    if (position < 0 || position >= FItems.size() || position >= ui->ProgressBar1->maximum()) {
        // The bar is already full: this tick came while the error box of the last item is still
        // open. Nothing is left to back up; the tick that opened the box finishes the run.
        Timer1->stop();
        return;
    }

    ui->Label1->setText(QStringLiteral("Backing up ") + FItems.at(position));
    ui->Label1->adjustSize();
    ui->ProgressBar1->setValue(position + 1);

    if (noggix::SharedRandom().draw(5) == 2) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Neuron chain read error! Please, contact your "
                                       "neurologist to fix this problem!"),
                        QMessageBox::Ok, this);
        box.exec();
        Timer1->stop();
        EnableControls(true);
    }

    if (ui->ProgressBar1->value() == ui->ProgressBar1->maximum()) {
        Timer1->stop();
        noggix::ReportFailures(this, [this] { WriteBackupFile(ui->edtSaveTo->text()); });
        EnableControls(true);
    }
}

void TfrmMain::EnableControls(bool enabled)
{
    // Qt hands the focus of a control being disabled on to the next one in the tab order, which
    // for "Noggix now!" is "Exit". The window itself takes no keys, so it holds the focus instead.
    QWidget *focused = focusWidget();
    const bool runControlFocused =
        focused && (focused == ui->btnBackup || ui->gbxSaveTo->isAncestorOf(focused) ||
                    ui->gbxOptions->isAncestorOf(focused));
    if (!enabled && runControlFocused) {
        m_focusBeforeRun = focused;
        setFocus(Qt::OtherFocusReason);
    }

    ui->gbxSaveTo->setEnabled(enabled);
    ui->gbxOptions->setEnabled(enabled);
    ui->btnBackup->setEnabled(enabled);

    // The focus goes back unless the user has put it on another control meanwhile.
    if (enabled && m_focusBeforeRun) {
        if (!focused || focused == this)
            m_focusBeforeRun->setFocus(Qt::OtherFocusReason);
        m_focusBeforeRun = nullptr;
    }
}

void TfrmMain::WriteBackupFile(const QString &path)
{
    noggix::WriteBackupFile(path, noggix::SharedRandom());
}

noggix::SaveFileChooser *TfrmMain::saveDialog()
{
    if (!SaveDialog1) {
        SaveDialog1 = new noggix::SaveFileChooser(this);
        SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    }
    return SaveDialog1;
}

void TfrmMain::SpeedButton1Click()
{
    noggix::ReportFailures(this, [this] {
        noggix::SaveFileChooser *chooser = saveDialog();
        if (chooser->exec() == QDialog::Accepted)
            ui->edtSaveTo->setText(chooser->selectedPath());
    });
}

void TfrmMain::btnHomeClick()
{
    noggix::ReportFailures(this, [] { QDesktopServices::openUrl(QUrl(HomePage)); });
}

void TfrmMain::btnExitClick()
{
    close();
}
