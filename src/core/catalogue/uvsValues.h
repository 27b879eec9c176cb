#pragma once

#include "core/catalogue/uVSLists.h"

#include <QString>

#include <memory>

namespace kv {

// One value: a line of a group's item file, a chosen value of a test, a pair-list entry or a ranked
// value of a result list.
struct TvsValueRec
{
    QString Name;
    qint32 TypeNumber = 0;  // the value's group, 1 to 4
    QString TypeName;       // the group's name; empty in pair lists
    qint32 Score = 0;       // comparisons won in the current test
    qint32 SourceIndex = 0; // pair lists only: the value's index in the list of chosen values
};

class TvsValueList final : public TvsList<TvsValueRec>
{
public:
    // Appends a value with Score 0 and returns its index.
    int Add(const QString& name, qint32 typeNumber, const QString& typeName);
};

// One group of values: a catalogue group, or a ranked group of a result list.
struct TvsValueTypeRec
{
    qint32 Number = 0; // group number 1 to 4 (Add stores the list position until a caller sets it)
    QString Name;
    QString ItemsFile;                    // full path of the group's item file; empty in result lists
    qint32 Score = 0;                     // the group's points in the current test, or its total in a result list
    std::unique_ptr<TvsValueList> Values; // owned; none until whoever fills the group creates it
};

class TvsValueTypeList final : public TvsList<TvsValueTypeRec>
{
public:
    // Appends a group with no Values and Score 0; its Number is its index until a caller sets it.
    int Add(const QString& name, const QString& itemsFile);
};

} // namespace kv
