#include "MainWindow.h"

#include "Anchors.h"
#include "AppSetup.h"
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
#include <QUrl>

namespace
{

const QString HomePage = QStringLiteral("https://noggix.example.org/");

} // namespace

TfrmMain::TfrmMain(QWidget *parent) : TfrmMain(midiout::Output::system(), parent) {}

TfrmMain::TfrmMain(midiout::Output &output, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmMain>()),
      MidiGen1(std::make_unique<TMidiGen>(output)),
      run_(new noggix::BackupRun(*this, *MidiGen1, noggix::sharedRandom(), this))
{
    ui->setupUi(this);
    setFont(noggix::windowFont());
    noggix::fitCaptions(this);
    ui->Label1->adjustSize(); // the label sizes itself to its text
    noggix::installAnchors(this);
    move(192, 114);
    noggix::keepWithinScreen(this);

    MidiGen1->setObjectName(QStringLiteral("MidiGen1"));

    ui->btnHome->setFocus();
    FormCreate();
    frmStart = new TfrmStart(this);
}

TfrmMain::~TfrmMain()
{
    // No tick may come while the window goes; the tone generator ends its jingle at once and
    // returns once its stream has closed.
    run_->stop();
    MidiGen1.reset();
}

void TfrmMain::FormCreate()
{
    ui->edtSaveTo->setText(noggix::defaultBackupPath(noggix::documentsFolder()));
}

void TfrmMain::btnBackupClick()
{
    StartBackupRun();
}

void TfrmMain::StartBackupRun()
{
    noggix::reportFailures(this, [this] { run_->start(); });
}

void TfrmMain::Timer1Timer()
{
    run_->tick();
}

bool TfrmMain::confirmReady()
{
    return frmStart->exec() != TfrmStart::CancelResult;
}

QStringList TfrmMain::checkedItems() const
{
    QStringList items;
    for (QObject *child : ui->gbxOptions->children()) {
        const auto *box = qobject_cast<QCheckBox *>(child);
        if (box && box->isChecked())
            items.append(box->text());
    }
    return items;
}

QString TfrmMain::backupPath() const
{
    return ui->edtSaveTo->text();
}

void TfrmMain::showCheckMessage(const QString &text)
{
    // The message dialog of the program's own checks: the application title, no icon, one OK
    // button, centred on the screen.
    QMessageBox box(QMessageBox::NoIcon, noggix::ApplicationTitle, text, QMessageBox::Ok);
    box.exec();
}

void TfrmMain::showItemFailure(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

int TfrmMain::progress() const
{
    return ui->ProgressBar1->value();
}

int TfrmMain::progressMaximum() const
{
    return ui->ProgressBar1->maximum();
}

void TfrmMain::setProgress(int position)
{
    ui->ProgressBar1->setValue(position);
}

void TfrmMain::setProgressMaximum(int maximum)
{
    // The bar keeps its position within a narrowed range, as a native progress bar does, where a
    // QProgressBar would reset itself.
    const int position = ui->ProgressBar1->value();
    ui->ProgressBar1->setMaximum(maximum);
    if (position > maximum)
        ui->ProgressBar1->setValue(maximum);
}

void TfrmMain::showItem(const QString &text)
{
    ui->Label1->setText(text);
    ui->Label1->adjustSize();
}

void TfrmMain::reportFailures(const std::function<void()> &work)
{
    noggix::reportFailures(this, work);
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
        focusBeforeRun_ = focused;
        setFocus(Qt::OtherFocusReason);
    }

    ui->gbxSaveTo->setEnabled(enabled);
    ui->gbxOptions->setEnabled(enabled);
    ui->btnBackup->setEnabled(enabled);

    // The focus goes back unless the user has put it on another control meanwhile.
    if (enabled && focusBeforeRun_) {
        if (!focused || focused == this)
            focusBeforeRun_->setFocus(Qt::OtherFocusReason);
        focusBeforeRun_ = nullptr;
    }
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
    noggix::reportFailures(this, [this] {
        noggix::SaveFileChooser *chooser = saveDialog();
        if (chooser->exec() == QDialog::Accepted)
            ui->edtSaveTo->setText(chooser->selectedPath());
    });
}

void TfrmMain::btnHomeClick()
{
    noggix::reportFailures(this, [] { QDesktopServices::openUrl(QUrl(HomePage)); });
}

void TfrmMain::btnExitClick()
{
    close();
}
