#pragma once

#include <QString>
#include <QtGlobal>

#include <utility>
#include <vector>

namespace kv {

// Which tests an export takes: all of them, or the numbers of a list like "1,5-9".
class TestSelection final
{
public:
    // Every test.
    TestSelection() = default;
    // Raises kv::Error (in Russian) for a list that is not numbers and ranges separated by commas.
    static TestSelection Parse(const QString& list);
    // Exactly these numbers (the history window's selected rows).
    static TestSelection Of(std::vector<quint32> ids);

    bool All() const { return m_all; }
    // Asked for every record of a large export, most often of all of them.
    bool Contains(quint32 id) const { return m_all || InRanges(id); }

private:
    bool InRanges(quint32 id) const;

    bool m_all = true;
    std::vector<std::pair<quint32, quint32>> m_ranges; // sorted, disjoint, inclusive
};

} // namespace kv
