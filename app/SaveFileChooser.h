#pragma once

// The save-file chooser of "...": the sub-folders and backup files of one folder, a file name
// box and the one file type. Names are listed by their bytes (pathText), so that a file or
// folder whose name is not UTF-8 is shown and can be chosen like any other.

#include <QByteArray>
#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace noggix
{

class SaveFileChooser : public QDialog
{
    Q_OBJECT
public:
    // The one file type: its label, the pattern its files match, and the suffix that a name
    // without one gets.
    static inline const QString FilterLabel = QStringLiteral("Brain backups");
    static inline const QString FilterPattern = QStringLiteral("*.brains");
    static inline const QString DefaultSuffix = QStringLiteral("brains");

    // Lists the current folder, the platform's default; "Save As" is the title. It neither asks
    // before replacing a file nor demands that the folder of a typed path exist.
    explicit SaveFileChooser(QWidget *parent = nullptr);

    // The folder listed, as text (pathText of its bytes).
    QString folder() const;
    // Lists folder, given as text (pathText of its bytes).
    void setFolder(const QString &folder);
    // The full path of the last choice confirmed: clean and absolute, as text.
    QString selectedPath() const { return selected_; }

protected:
    // Enter on an entry of the list opens it, and goes no further: it is not "Save".
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    // "Save", and Enter in the file name box: a name that leads to a folder lists it; any other
    // name, relative to the folder listed, is the choice (with ".brains" when it has no suffix).
    void accept() override;

private:
    // Fills the list from folder_: sub-folders, then the files of the type, each sorted by name;
    // hidden names left out.
    void list();
    void enter(const QByteArray &folder);
    void activate(QListWidgetItem *item);
    void showChosen(QListWidgetItem *item);

    QByteArray folder_;
    QString selected_;
    QLineEdit *lookIn_;
    QListWidget *entries_;
    QLineEdit *fileName_;
    QComboBox *fileType_;
};

} // namespace noggix
