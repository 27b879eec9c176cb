#include "core/history/TestGridModel.h"

#include "core/interpretation/FallbackText.h"
#include "core/platform/Codec.h"
#include "core/storage/DataSnapshot.h"
#include "core/storage/RecordLayout.h"

#include <QCollator>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

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
    m_order.clear();
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

const TestGridModel::Row* TestGridModel::RowAt(int row) const
{
    if (m_emptyRow || row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    return &m_rows[m_order.empty() ? size_t(row) : size_t(m_order[size_t(row)])];
}

QString TestGridModel::CellText(int row, int column) const
{
    const Row* at = RowAt(row);
    if (at == nullptr)
        return QString();
    const Row& r = *at;
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
    const Row* r = RowAt(row);
    if (r == nullptr)
        return false;
    id = r->id;
    return true;
}

int TestGridModel::LongestRow(int column) const
{
    if (m_emptyRow || m_rows.empty())
        return -1;
    // Numbers and dates are measured by their digits; every name is looked at, since its bytes are
    // at hand and one character is one byte.
    int best = 0;
    qsizetype longest = -1;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const Row& r = m_rows[i];
        qsizetype length = 0;
        switch (column) {
        case ColId:
            length = qsizetype(std::to_string(r.id).size());
            break;
        case ColFio:
            length = r.nameLength;
            break;
        case ColDate:
            // Every date has the same form; a year past 9999 or before 1 is the one that is longer.
            if (i > 0 && std::isfinite(r.date) && std::fabs(r.date) < 2900000)
                continue;
            length = CellText(int(i), column).size();
            break;
        default:
            length = qsizetype(std::to_string(r.scores[column - ColScore1]).size());
            break;
        }
        if (length > longest) {
            longest = length;
            best = int(i);
        }
    }
    // The row as the table shows it now.
    if (!m_order.empty())
        best = int(std::find(m_order.begin(), m_order.end(), quint32(best)) - m_order.begin());
    return best;
}

void TestGridModel::sort(int column, Qt::SortOrder order)
{
    if (m_emptyRow || (column >= ColumnCount))
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<quint32> before = m_order;
    std::vector<quint32> after(m_rows.size());
    std::iota(after.begin(), after.end(), 0u);
    if (column >= 0) {
        // Names are compared by their collation keys, made once per row, not once per comparison.
        std::vector<QCollatorSortKey> names;
        if (column == ColFio) {
            QCollator collator(QLocale(QLocale::Russian, QLocale::Russia));
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            collator.setNumericMode(true);
            names.reserve(m_rows.size());
            for (const Row& r : m_rows)
                names.push_back(collator.sortKey(FromCp1251(QByteArrayView(m_names.data() + r.nameAt, r.nameLength))));
        }
        // A date that is not a number goes first, so the order stays an order.
        const auto dateKey = [](double d) { return std::isnan(d) ? -HUGE_VAL : d; };
        const auto less = [&](quint32 a, quint32 b) {
            const Row& x = m_rows[a];
            const Row& y = m_rows[b];
            switch (column) {
            case ColId:
                return x.id < y.id;
            case ColFio:
                return names[a].compare(names[b]) < 0;
            case ColDate:
                return dateKey(x.date) < dateKey(y.date);
            default:
                return x.scores[column - ColScore1] < y.scores[column - ColScore1];
            }
        };
        if (order == Qt::AscendingOrder)
            std::stable_sort(after.begin(), after.end(), less);
        else
            std::stable_sort(after.begin(), after.end(), [&](quint32 a, quint32 b) { return less(b, a); });
    }
    // The selection and the current row follow their tests to where they now stand.
    std::vector<int> newRowOf(m_rows.size());
    for (size_t i = 0; i < after.size(); ++i)
        newRowOf[after[i]] = int(i);
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& index : persistent) {
        const size_t fileRow = before.empty() ? size_t(index.row()) : size_t(before[size_t(index.row())]);
        moved.append(createIndex(newRowOf[fileRow], index.column()));
    }
    if (column < 0)
        m_order.clear();
    else
        m_order = std::move(after);
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QVariant TestGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    return CellText(index.row(), index.column());
}

QVariant TestGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return HeaderText(section);
    case Qt::InitialSortOrderRole:
        // A first click sorts from the smallest, a second from the largest, a third brings back
        // the order of the file.
        return int(Qt::AscendingOrder);
    default:
        return QAbstractTableModel::headerData(section, orientation, role);
    }
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
