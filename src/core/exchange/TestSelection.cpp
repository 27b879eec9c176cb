#include "core/exchange/TestSelection.h"

#include "core/platform/Errors.h"

#include <QStringList>

#include <algorithm>

namespace kv {

namespace {

quint32 ParseNumber(const QString& text, const QString& list)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    // toUInt would take "+5" and " 5"; a list of test numbers has digits only.
    const bool digits = !trimmed.isEmpty() &&
                        std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const quint32 value = digits ? trimmed.toUInt(&ok) : 0;
    if (!ok)
        throw Error(QStringLiteral("Неверный список тестов «%1»: ожидаются номера и диапазоны через запятую, "
                                   "например 1,5-9")
                        .arg(list));
    return value;
}

void Normalise(std::vector<std::pair<quint32, quint32>>& ranges)
{
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<quint32, quint32>> merged;
    for (const auto& range : ranges) {
        if (!merged.empty() && quint64(range.first) <= quint64(merged.back().second) + 1)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    ranges = std::move(merged);
}

} // namespace

TestSelection TestSelection::Parse(const QString& list)
{
    TestSelection selection;
    selection.m_all = false;
    for (const QString& part : list.split(u',')) {
        const qsizetype dash = part.indexOf(u'-');
        const quint32 first = ParseNumber(dash < 0 ? part : part.left(dash), list);
        const quint32 last = dash < 0 ? first : ParseNumber(part.mid(dash + 1), list);
        if (last < first)
            throw Error(QStringLiteral("Неверный диапазон тестов «%1»: начало больше конца").arg(part.trimmed()));
        selection.m_ranges.emplace_back(first, last);
    }
    Normalise(selection.m_ranges);
    return selection;
}

TestSelection TestSelection::Of(std::vector<quint32> ids)
{
    TestSelection selection;
    selection.m_all = false;
    for (const quint32 id : ids)
        selection.m_ranges.emplace_back(id, id);
    Normalise(selection.m_ranges);
    return selection;
}

bool TestSelection::InRanges(quint32 id) const
{
    const auto after = std::upper_bound(m_ranges.begin(), m_ranges.end(), id,
                                        [](quint32 value, const auto& range) { return value < range.first; });
    return after != m_ranges.begin() && id <= std::prev(after)->second;
}

} // namespace kv
