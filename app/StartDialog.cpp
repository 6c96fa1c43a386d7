#include "StartDialog.h"

#include "Anchors.h"
#include "AppSetup.h"
#include "CaptionFit.h"
#include "JpegImage.h"
#include "ScreenFit.h"
#include "ui_StartDialog.h"

#include <QFile>
#include <QKeyEvent>

TfrmStart::TfrmStart(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmStart>())
{
    ui->setupUi(this);
    setFont(noggix::windowFont());
    ui->Label1->setFont(noggix::dialogLabelFont());
    noggix::fitCaptions(this);
    noggix::installAnchors(this);
    move(192, 114);
    noggix::keepWithinScreen(this);
    ui->Button1->setFocus();
}

TfrmStart::~TfrmStart() = default;

void TfrmStart::showEvent(QShowEvent *event)
{
    // The picture waits for the first showing, so that the program's start-up does not pay for
    // decoding it. The captions are fitted in the constructor: fitted here, after the focus was
    // set, they would move the focus from "I'm ready!" to "Cancel" once the dialog has closed.
    if (!shownBefore_) {
        shownBefore_ = true;
        // Where a logical pixel takes more than one device pixel, the picture drawn at twice
        // the size keeps it sharp; it is shown at the same 220 x 170 logical pixels.
        const bool twice = devicePixelRatioF() > 1.0;
        QFile picture(twice ? QStringLiteral(":/start@2x.jpg") : QStringLiteral(":/start.jpg"));
        if (picture.open(QIODevice::ReadOnly)) {
            QImage image = noggix::decodeJpeg(picture.readAll());
            image.setDevicePixelRatio(twice ? 2.0 : 1.0);
            ui->Image1->setPixmap(QPixmap::fromImage(image));
        }
    }
    QDialog::showEvent(event);
}

void TfrmStart::accept()
{
    done(ReadyResult);
}

void TfrmStart::reject()
{
    done(CancelResult);
}

void TfrmStart::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
