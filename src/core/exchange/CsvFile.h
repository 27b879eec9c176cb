#pragma once

#include "core/exchange/TableSink.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <charconv>
#include <memory>
#include <string_view>

namespace kv {

// One table as RFC 4180 text, written field by field straight into the output buffer: the export
// of a large database formats millions of fields, and a cell vector or a string per field would
// cost more than the field. The file is staged beside its final name until Commit.
// Every row must give every column of the layout, an empty one through Empty. Failures raise
// kv::Error in Russian.
class CsvFile final
{
public:
    // Stages folder/<name>.csv and writes the byte-order mark and the header row.
    CsvFile(const QString& folder, const TableLayout& layout);
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    void Integer(qint64 value)
    {
        Reserve(20);
        char* out = m_at;
        quint64 magnitude = quint64(value);
        if (value < 0) {
            *out++ = '-';
            magnitude = 0 - magnitude;
        }
        out = Digits(out, magnitude);
        *out++ = ',';
        m_at = out;
    }
    // Shortest text that reads back as the same number, with a full stop for the fraction.
    void Real(double value)
    {
        Reserve(32);
        // Ranks are whole numbers or halves; below 10,000 their shortest text is the digits and
        // ".5" for a half, which is far quicker to write than to find in general.
        const double twice = value * 2;
        if (value >= 1 && value < 10000 && twice == double(quint64(twice))) {
            const quint64 halves = quint64(twice);
            m_at = Digits(m_at, halves / 2);
            if (halves % 2 != 0) {
                m_at[0] = '.';
                m_at[1] = '5';
                m_at += 2;
            }
        } else {
            m_at = std::to_chars(m_at, m_end, value).ptr;
        }
        *m_at++ = ',';
    }
    // UTF-8 text, quoted when it holds a comma, a quote or a line break.
    void Utf8(std::string_view text);
    // Windows-1251 text, converted to UTF-8 on the way and quoted like Utf8.
    void Cp1251(QByteArrayView text);
    // ISO 8601 local date and time; empty for a day outside years 1 .. 9999.
    void DateTime(qint64 days, qint32 ms);
    void Empty()
    {
        Reserve(0);
        *m_at++ = ',';
    }
    void EndRow()
    {
        // Every field left its comma; the last one becomes the row's end. Reserve kept the room.
        m_at[-1] = '\r';
        *m_at++ = '\n';
        if (m_at >= m_flushAt)
            Flush();
    }

    // Starts the file again from its header row, for a writer that finds it has to redo the table.
    void Rewind();
    // Writes what is buffered and lets the disk start on the file while other work goes on.
    void StartWriteback();
    // Writes what is left and flushes the file to disk.
    void Finish();
    // Renames the file into place.
    void Commit();

private:
    char* Digits(char* out, quint64 value)
    {
        // Most numbers of a table are a group, a count or a score: one or two digits.
        if (value < 10) {
            *out++ = char('0' + value);
            return out;
        }
        if (value < 100) {
            out[0] = char('0' + value / 10);
            out[1] = char('0' + value % 10);
            return out + 2;
        }
        return std::to_chars(out, m_end, value).ptr;
    }
    // Makes room for a field of up to bytes, its comma and a row's end.
    void Reserve(size_t bytes)
    {
        if (size_t(m_end - m_at) < bytes + 2)
            MakeRoom(bytes + 2);
    }
    void MakeRoom(size_t bytes);
    void Flush();
    void WriteHeader();

    StagedFile m_file;
    const TableLayout& m_layout;
    std::unique_ptr<char[]> m_buffer;
    char* m_begin = nullptr;
    char* m_at = nullptr;
    char* m_flushAt = nullptr;
    char* m_end = nullptr;
};

} // namespace kv
