#pragma once

// The failure report: a handler that ends with a failure shows its message in a modal box and
// the program goes on. Every event handler that can fail runs its work through reportFailures,
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
QString failureReportText(const QString &message);

// text with a line break put into every word (a run without blanks, such as a long path) wider
// than width pixels in font, wherever its pieces fill a line; the box breaks the lines at
// blanks itself, but would cut such a word.
QString breakLongWords(const QString &text, const QFont &font, int width);

// Shows the failure report over parent: caption "Noggix", the stop icon, one OK button and
// failureReportText(message), wrapped to fit the screen. Returns when the user has closed it.
void showFailureReport(QWidget *parent, const QString &message);

// The user's text of a caught exception: Failure::message(), or what() of any other.
QString messageOf(const std::exception &e);

// Runs work(); whatever it throws is shown with showFailureReport and swallowed, so that it never
// reaches Qt's event loop: a noggix::Failure or other std::exception with its message, anything
// else with an empty one. Returns true when work() ended normally.
template <typename Work> bool reportFailures(QWidget *parent, Work &&work)
{
    QString message;
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const std::exception &e) {
        message = messageOf(e);
    } catch (...) {
    }
    showFailureReport(parent, message);
    return false;
}

} // namespace noggix
