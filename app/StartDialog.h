#pragma once

// The "Get ready!" dialog that every backup run shows before its first item.

#include <QDialog>

#include <memory>

namespace Ui
{
class TfrmStart;
}

// Shown modally once per run; lives until the program ends, so its size and place carry over.
// exec() returns 1 for "I'm ready!" (also Enter) and 2 for "Cancel" or the close box; Escape
// does nothing.
class TfrmStart : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmStart(QWidget *parent = nullptr);
    ~TfrmStart() override;

    // Ends the dialog with the cancel result 2; "Cancel" and the close box come here.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<Ui::TfrmStart> ui;
};
