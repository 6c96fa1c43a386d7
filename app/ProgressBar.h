#pragma once

// The run's progress bar.

#include <QProgressBar>

namespace noggix
{

// A progress bar that draws an empty bar when its range is empty (0 to 0), where a plain
// QProgressBar would show a busy animation: a run without items has made no progress.
class ProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace noggix
