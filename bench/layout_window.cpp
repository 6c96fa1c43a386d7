// The anchor of the start-up figure: the program's two windows built from its own layout files,
// with its fonts, and nothing else: no logic, no pictures, no synthesizer. The picture that the
// main window's layout names is not linked in, so nothing is decoded.

#include "ui_MainWindow.h"
#include "ui_StartDialog.h"

#include <QApplication>
#include <QDialog>
#include <QFont>

namespace
{

// The main window's layout binds its buttons to these slots by name; here they do nothing.
class LayoutOnlyWindow : public QWidget
{
    Q_OBJECT
public slots:
    void btnHomeClick() {}
    void btnBackupClick() {}
    void btnExitClick() {}
    void SpeedButton1Click() {}
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(8);
    QApplication::setFont(font);

    LayoutOnlyWindow window;
    Ui::TfrmMain windowLayout;
    windowLayout.setupUi(&window);

    QDialog dialog(&window);
    Ui::TfrmStart dialogLayout;
    dialogLayout.setupUi(&dialog);
    QFont big(QStringLiteral("Liberation Sans"));
    big.setPixelSize(29);
    dialogLayout.Label1->setFont(big);

    window.show();
    return QApplication::exec();
}

#include "layout_window.moc"
