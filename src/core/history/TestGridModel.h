#pragma once

#include "core/storage/uvsDataBase.h"

#include <QAbstractTableModel>

#include <vector>

namespace kv {

// The history grid's table: one row per saved test, seven text columns. A row keeps only what its
// cells show (number, name, date, four totals), not the 681-byte record, and the texts are made
// when a cell is painted, so a database of 100,000 tests costs a few megabytes and opens at once.
class TestGridModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColId,
        ColFio,
        ColDate,
        ColScore1,
        ColScore2,
        ColScore3,
        ColScore4,
        ColumnCount
    };

    explicit TestGridModel(QObject* parent = nullptr);

    // Refills the table from a tests.dat. Returns false when the file is missing or unreadable; the
    // table then holds one row of empty cells, as the grid shows under its headers.
    bool Load(const QString& testsFile);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Orders the rows by a column (numbers as numbers, dates as dates, names alphabetically in
    // Russian), ties in file order; a column of -1 brings back the order of the file.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The text a cell shows ("" for every cell of the empty row).
    QString CellText(int row, int column) const;
    // The number of the test in this row, as the unsigned field it is; false for the empty row.
    bool TestIdAt(int row, quint32& id) const;
    // The row whose text in this column is the longest (-1 when there is none): what the column
    // must be wide enough for.
    int LongestRow(int column) const;

    static QString HeaderText(int column);
    static int DesignedWidth(int column);

private:
    // Names stay as their Windows-1251 bytes in one shared block and are decoded when painted:
    // a QString per row would cost an allocation and a conversion for every test at opening.
    struct Row
    {
        quint32 id = 0;
        quint32 nameAt = 0;
        quint8 nameLength = 0;
        double date = 0;
        qint32 scores[4] = {};
    };
    using RowVector = std::vector<Row>;
    using NameBytes = std::vector<char>;

    // The row of m_rows shown at this row of the table, or nullptr.
    const Row* RowAt(int row) const;

    RowVector m_rows;
    NameBytes m_names;
    // Which row of m_rows each row of the table shows while sorted; empty in file order.
    std::vector<quint32> m_order;
    bool m_emptyRow = true;
};

} // namespace kv
