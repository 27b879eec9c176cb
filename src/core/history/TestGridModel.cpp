#include "core/history/TestGridModel.h"

#include "core/interpretation/FallbackText.h"
#include "core/platform/Codec.h"

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

namespace {
// ReadTests hands each record to a plain function; while a load runs, the rows it makes go here.
// The filter keeps no record in the list itself, so the file is never held in memory twice.
thread_local void* g_collectRows = nullptr;
} // namespace

TestGridModel::TestGridModel(QObject* parent) : QAbstractTableModel(parent) {}

// Where the name sits in a test record: a length byte, then up to 80 bytes of text.
constexpr int kFioOffset = 4;
constexpr int kShortStringMax = 80;

bool TestGridModel::Collect(const TvsDBTestRec& rec)
{
    auto* sink = static_cast<Rows*>(g_collectRows);
    Row row;
    row.id = rec.Id();
    row.nameLength = static_cast<quint8>(std::min<int>(static_cast<quint8>(rec.bytes[kFioOffset]), kShortStringMax));
    row.nameAt = static_cast<quint32>(sink->names.size());
    const char* name = rec.bytes.data() + kFioOffset + 1;
    sink->names.insert(sink->names.end(), name, name + row.nameLength);
    row.date = rec.Date();
    for (int n = 0; n < 4; ++n)
        row.scores[n] = rec.TypeScore(n + 1);
    sink->rows.push_back(row);
    return false;
}

bool TestGridModel::Load(const QString& testsFile)
{
    Rows rows;
    // Room for every row the file can hold, so the rows are never moved while the file is read.
    // The names get their longest possible size; only the part they fill is ever touched.
    const qint64 fileSize = QFileInfo(testsFile).size();
    if (fileSize > 0) {
        const auto expected = size_t(fileSize / TvsDBTestRec::kSize);
        rows.rows.reserve(expected);
        rows.names.reserve(expected * kShortStringMax);
    }
    g_collectRows = &rows;
    std::unique_ptr<TvsDBTestList> kept;
    try {
        kept = ReadTests(testsFile, &TestGridModel::Collect);
    } catch (...) {
        g_collectRows = nullptr;
        throw;
    }
    g_collectRows = nullptr;

    beginResetModel();
    m_emptyRow = kept == nullptr;
    m_rows = m_emptyRow ? RowVector() : std::move(rows.rows);
    m_names = m_emptyRow ? NameBytes() : std::move(rows.names);
    endResetModel();
    return !m_emptyRow;
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

bool TestGridModel::TestIdAt(int row, quint32& id) const
{
    if (m_emptyRow || row < 0 || row >= static_cast<int>(m_rows.size()))
        return false;
    id = m_rows[static_cast<size_t>(row)].id;
    return true;
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
