#include "core/platform/Plural.h"

namespace kv {

QString RussianPlural(qint64 count, const QString& one, const QString& few, const QString& many)
{
    const qint64 n = count < 0 ? -count : count;
    if (n % 100 >= 11 && n % 100 <= 14)
        return many;
    switch (n % 10) {
    case 1:
        return one;
    case 2:
    case 3:
    case 4:
        return few;
    default:
        return many;
    }
}

} // namespace kv
