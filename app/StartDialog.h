#pragma once

// The "Get ready!" dialog that every backup run shows before its first item.

#include <QDialog>

#include <memory>

namespace Ui
{
class TfrmStart;
}

// Shown modally once per run; lives until the program ends, so its size and place carry over.
// exec() returns ReadyResult for "I'm ready!" (also Enter) and CancelResult for "Cancel" or the
// close box; Escape does nothing.
class TfrmStart : public QDialog
{
    Q_OBJECT
public:
    // The results of exec(): "I'm ready!", and "Cancel" or the close box.
    static constexpr int ReadyResult = 1;
    static constexpr int CancelResult = 2;

    explicit TfrmStart(QWidget *parent = nullptr);
    ~TfrmStart() override;

    // Ends the dialog with ReadyResult; "I'm ready!" and Enter come here.
    void accept() override;
    // Ends the dialog with CancelResult; "Cancel" and the close box come here.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Decodes the picture at the first showing.
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::TfrmStart> ui;
    bool shownBefore_ = false;
};
