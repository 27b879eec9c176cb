#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace kv {

// What check finds in a data folder. Every count but the first three is a problem.
struct DataCheckReport
{
    qint64 Tests = 0;
    qint64 Values = 0;
    qint64 Answers = 0;

    qint64 TornTestsBytes = 0; // bytes after the last whole record of each file
    qint64 TornValuesBytes = 0;
    qint64 TornAnswersBytes = 0;
    qint64 DuplicateTestIds = 0; // test records whose number an earlier record already has
    qint64 OrphanValues = 0;     // value records naming no existing test
    qint64 OrphanAnswers = 0;    // answer records naming no existing test
    qint64 TestsWithoutValues = 0;
    qint64 OverlongStrings = 0; // short strings whose length byte is over 80
    qint64 BadDates = 0;        // dates that are not finite or name no calendar day
    qint64 BadGroups = 0;       // value or answer records whose group number is not 1 .. 4
    qint64 BadChoices = 0;      // answer records whose choice is neither 1 nor 2
    bool ReadFailed = false;    // a file could not be read to its end
    // A save that died half-way was undone before the check: reported, but no problem is left.
    bool RolledBack = false;
    bool Completed = false; // a sealed save found whole was kept

    bool Clean() const;
    // One Russian line per problem found, empty when clean.
    QStringList Problems() const;
};

// Reads the folder's files whole records at a time, as the program does. Raises kv::Error (in
// Russian) when the folder is missing, holds no database or a file cannot be opened.
DataCheckReport CheckDataFolder(const QString& dataDir);

} // namespace kv
