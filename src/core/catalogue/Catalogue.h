#pragma once

#include "core/catalogue/uvsValues.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kv {

// The text that marks a missing key of config.ini.
inline constexpr char16_t kMissingKey[] = u"NOFUCKINGWAY";

// Splits item-file bytes into values: lines end at CR LF, a lone CR or a lone LF, a zero byte ends
// the text, and a break at the very end adds no line. Lines are kept exactly as written.
QStringList SplitItemLines(const QByteArray& bytes);

// Reads a whole text file as lines (Windows-1251). Raises kv::Error when it cannot be opened or read.
QStringList ReadTextLines(const QString& fileName);

// Reads a whole text file as one text (Windows-1251). Raises kv::Error when it cannot be opened or read.
QString ReadTextFile(const QString& fileName);

// Gives the group a new, empty Values list and fills it from the group's item file, one value per
// line. An error opening or reading the file goes to the caller; the group keeps what it has.
void LoadValueTypeItems(TvsValueTypeRec& group, qint32 number);

// The part of catalogue loading that needs no window: clears valueTypes, then reads config.ini
// (exeDir + fileName) group by group until the first missing key or unreadable item file, which ends
// the reading quietly. Returns the Lines value as read, which is the missing-key text when the key
// is absent.
QString ReadCatalogue(const QString& exeDir, const QString& fileName, TvsValueTypeList& valueTypes);

// The four groups' names as configFile names them (ValueTypeName1 .. 4), whether or not their item
// files can be read: loading stops at the first item file that is missing, a name does not. An
// empty name stands for a missing key.
QStringList GroupNamesOf(const QString& configFile);

// Appends a user-added value to an item file: CR LF, then the text, with no break after it. The file
// must already exist; any failure leaves it as it was and is not reported.
void AppendValueToItemFile(const QString& fileName, const QString& text);

} // namespace kv
