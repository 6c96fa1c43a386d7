#pragma once

// The failure report: a handler that ends with a failure shows its message in a modal box and
// the program goes on. Every event handler that can fail runs its work through ReportFailures,
// so that no exception ever crosses Qt code.

#include <QString>

#include <exception>
#include <utility>

class QFont;
class QWidget;

namespace noggix
{

// The text the report shows: message with a period appended when it is not empty and its last
// character has a higher code than ".", so "error" gets one and "(x)" or "x " do not.
QString FailureReportText(const QString &message);

// text with a line break put into every word (a run without blanks, such as a long path) wider
// than width pixels in font, wherever its pieces fill a line; the box breaks the lines at
// blanks itself, but would cut such a word.
QString BreakLongWords(const QString &text, const QFont &font, int width);

// Shows the failure report over parent: caption "Noggix", the stop icon, one OK button and
// FailureReportText(message), wrapped to fit the screen. Returns when the user has closed it.
void ShowFailureReport(QWidget *parent, const QString &message);

// The user's text of a caught exception: Failure::message(), or what() of any other.
QString MessageOf(const std::exception &e);

// Runs work(); whatever it throws is shown with ShowFailureReport and swallowed, so that it never
// reaches Qt's event loop: a noggix::Failure or other std::exception with its message, anything
// else with an empty one. Returns true when work() ended normally.
template <typename Work> bool ReportFailures(QWidget *parent, Work &&work)
{
    QString message;
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const std::exception &e) {
        message = MessageOf(e);
    } catch (...) {
    }
    ShowFailureReport(parent, message);
    return false;
}

} // namespace noggix
