#pragma once

#include <QString>

#include <exception>

namespace kv {

// The one kind of error a handler raises to end itself with a message. The standard error box shows
// what(); carrying a QString keeps Cyrillic intact on the way there.
class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Raised by every owning list for an index outside 0 .. Count - 1.
class ListIndexError final : public Error
{
public:
    explicit ListIndexError(int index) : Error(QStringLiteral("List index out of bounds (%1)").arg(index)) {}
};

// Raised when a text that should hold a whole number does not.
class ConvertError final : public Error
{
public:
    explicit ConvertError(const QString& text) : Error(QStringLiteral("'%1' is not a valid integer value").arg(text)) {}
};

// Converts a decimal text to a 32-bit signed integer the way the program's number fields expect:
// surrounding blanks are allowed, a sign is allowed, anything else (or a value out of range) raises
// ConvertError with the original text.
qint32 StrToInt(const QString& text);

} // namespace kv
