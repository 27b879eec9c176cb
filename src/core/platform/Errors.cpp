#include "core/platform/Errors.h"

namespace kv {

qint32 StrToInt(const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    // Only plain decimal digits after an optional sign: QString::toInt would also take "0x" forms.
    int start = (trimmed.startsWith(u'+') || trimmed.startsWith(u'-')) ? 1 : 0;
    bool digits = trimmed.size() > start;
    for (int i = start; i < trimmed.size() && digits; ++i)
        digits = trimmed.at(i) >= u'0' && trimmed.at(i) <= u'9';
    const qint32 value = digits ? trimmed.toInt(&ok, 10) : 0;
    if (!ok)
        throw ConvertError(text);
    return value;
}

} // namespace kv
