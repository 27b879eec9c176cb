#include "core/history/TestGridModel.h"

#include "core/interpretation/FallbackText.h"
#include "core/platform/Codec.h"
#include "core/storage/DataSnapshot.h"
#include "core/storage/RecordLayout.h"

#include <QFileInfo>

#include <algorithm>

namespace kv {

namespace {

struct ColumnSpec
{
    const char16_t* header;
    int width;
};

constexpr ColumnSpec kColumns[TestGridModel::ColumnCount] = {
    {u"№", 49},
    {u"ФИО", 106},
    {u"Дата", 65},
    {u"Идеологические ценности", 147},
    {u"Материальные ценности", 143},
    {u"Эмоциональные ценности", 142},
    {u"Витальные ценности", 112},
};

} // namespace

TestGridModel::TestGridModel(QObject* parent) : QAbstractTableModel(parent) {}

bool TestGridModel::Load(const QString& testsFile)
{
    RowVector rows;
    NameBytes names;
    bool loaded = false;
    try {
        // The window has undone what a crashed save left before it asks, or told why it could not.
        const DataSnapshot snapshot(QFileInfo(testsFile).absolutePath(), DataSnapshot::Journal::Respect);
        if (snapshot.Exists(DataSnapshot::Tests)) {
            // Room for every row, so the rows are never moved while the file is read. The names get
            // their longest possible size; only the part they fill is ever touched.
            const auto expected = size_t(snapshot.Records(DataSnapshot::Tests));
            rows.reserve(expected);
            names.reserve(expected * size_t(layout::kShortStringChars));
            DataSnapshot::Reader reader(snapshot, DataSnapshot::Tests);
            const char* block;
            while (const size_t count = reader.Next(block)) {
                const auto* records = reinterpret_cast<const TvsDBTestRec*>(block);
                for (size_t i = 0; i < count; ++i) {
                    const TvsDBTestRec& rec = records[i];
                    Row row;
                    row.id = rec.Id();
                    const QByteArrayView name = rec.TextBytes(TvsDBTestRec::Text::Fio);
                    row.nameLength = static_cast<quint8>(name.size());
                    row.nameAt = static_cast<quint32>(names.size());
                    names.insert(names.end(), name.begin(), name.end());
                    row.date = rec.Date();
                    for (int n = 0; n < 4; ++n)
                        row.scores[n] = rec.TypeScore(n + 1);
                    rows.push_back(row);
                }
            }
            // A read error ends the table quietly with the rows read so far.
            loaded = true;
        }
    } catch (...) {
        // A folder or file that cannot be read, or no memory left: the empty row.
        loaded = false;
    }

    beginResetModel();
    m_emptyRow = !loaded;
    m_rows = loaded ? std::move(rows) : RowVector();
    m_names = loaded ? std::move(names) : NameBytes();
    endResetModel();
    return loaded;
}

int TestGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_emptyRow ? 1 : static_cast<int>(m_rows.size());
}

int TestGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TestGridModel::CellText(int row, int column) const
{
    if (m_emptyRow || row < 0 || row >= static_cast<int>(m_rows.size()))
        return QString();
    const Row& r = m_rows[static_cast<size_t>(row)];
    switch (column) {
    case ColId:
        return QString::number(r.id);
    case ColFio:
        return FromCp1251(QByteArrayView(m_names.data() + r.nameAt, r.nameLength));
    case ColDate:
        return ShortDateText(r.date);
    case ColScore1:
    case ColScore2:
    case ColScore3:
    case ColScore4:
        return QString::number(r.scores[column - ColScore1]);
    default:
        return QString();
    }
}

QVariant TestGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return CellText(index.row(), index.column());
}

QVariant TestGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return HeaderText(section);
}

QString TestGridModel::HeaderText(int column)
{
    return QString::fromUtf16(kColumns[column].header);
}

int TestGridModel::DesignedWidth(int column)
{
    return kColumns[column].width;
}

} // namespace kv
