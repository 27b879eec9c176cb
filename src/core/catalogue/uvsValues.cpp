#include "core/catalogue/uvsValues.h"

namespace kv {

int TvsValueList::Add(const QString& name, qint32 typeNumber, const QString& typeName)
{
    auto rec = std::make_unique<TvsValueRec>();
    rec->Name = name;
    rec->TypeNumber = typeNumber;
    rec->TypeName = typeName;
    return Append(std::move(rec));
}

int TvsValueTypeList::Add(const QString& name, const QString& itemsFile)
{
    const int index = Append(std::make_unique<TvsValueTypeRec>());
    TvsValueTypeRec& rec = Items(index);
    rec.Name = name;
    rec.ItemsFile = itemsFile;
    rec.Number = index;
    return index;
}

} // namespace kv
