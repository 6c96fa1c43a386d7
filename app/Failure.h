#pragma once

// The failure type of the program: raised where an operation cannot be completed, caught by the
// event handler that started it and shown as the failure report.

#include <QString>

#include <stdexcept>

namespace noggix
{

class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString &message)
        : std::runtime_error(message.toStdString()), message_(message)
    {
    }

    // The message as the user reads it, before the report adds its closing period.
    const QString &message() const { return message_; }

private:
    QString message_;
};

} // namespace noggix
