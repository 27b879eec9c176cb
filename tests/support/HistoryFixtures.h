#pragma once

// Hand-made database records and catalogues for the history and detailed-view tests.
#include "core/catalogue/uvsValues.h"
#include "core/storage/uvsDataBase.h"
#include "support/CoreSupport.h"

#include <QDateTime>
#include <QDir>

#include <initializer_list>

namespace kvtest {

struct StoredValue
{
    qint32 testId;
    quint8 typeNumber;
    QString name;
    qint32 score;
};

inline kv::TvsDBTestRec TestRecord(quint32 id, const QString& fio, const QDateTime& when,
                                   std::initializer_list<qint32> totals = {0, 0, 0, 0})
{
    kv::TvsDBTestRec rec;
    rec.SetId(id);
    rec.SetFio(fio);
    rec.SetDate(kv::DateTimeToRecordDate(when));
    int n = 1;
    for (qint32 total : totals)
        rec.SetTypeScore(n++, total);
    return rec;
}

template <typename Rec> QByteArray Bytes(const Rec& rec)
{
    return QByteArray(rec.bytes.data(), Rec::kSize);
}

inline QByteArray ValueRecords(std::initializer_list<StoredValue> values)
{
    QByteArray bytes;
    qint32 id = 1;
    for (const StoredValue& v : values) {
        kv::TvsDBValueRec rec;
        rec.SetId(id++);
        rec.SetTestId(v.testId);
        rec.SetTypeNumber(v.typeNumber);
        rec.SetScore(v.score);
        rec.SetName(v.name);
        bytes += Bytes(rec);
    }
    return bytes;
}

// A catalogue as the main window holds it: group N at index N - 1 with Number N.
inline void FillCatalogue(kv::TvsValueTypeList& list, const QStringList& names)
{
    list.Clear();
    for (const QString& name : names)
        list.Items(list.Add(name, QString())).Number = list.Count();
}

inline QStringList ShippedGroupNames()
{
    return {QStringLiteral("Идеологические ценности"), QStringLiteral("Материальные ценности"),
            QStringLiteral("Эмоциональные ценности"), QStringLiteral("Витальные ценности")};
}

inline void WriteData(const ExeDir& dir, const QString& name, const QByteArray& bytes)
{
    QDir(dir.path()).mkpath(QStringLiteral("Data"));
    dir.write(QStringLiteral("Data/") + name, bytes);
}

} // namespace kvtest
