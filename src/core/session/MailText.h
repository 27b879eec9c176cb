#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/Questionnaire.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>

namespace kv {

// The test author's address: the recipient of the mail link and the address the note to the
// respondent names.
inline constexpr char16_t kAuthorAddress[] = u"orvelo@kvendar.example";

// The mail text, line by line: the answers, then the ranking with each value indented by four blanks
// under its group and an empty line after every group.
QStringList BuildMailLines(const TvsQuestionnaire& answers, const TvsValueTypeList& resultList);

// A mailto: URL (RFC 6068) to recipient with the subject and the lines as the body. Everything
// outside the unreserved characters is percent-encoded as UTF-8 (a blank as %20), and the lines are
// joined by %0D%0A, so "&", "#" or "%" in a value cannot cut the body short.
QByteArray BuildMailtoUrl(const QString& recipient, const QString& subject, const QStringList& lines);

// Whether a character typed into the age field reaches it: the digits 0 to 9 and backspace only.
bool IsAgeCharAccepted(QChar c);

} // namespace kv
