#include "gui/widgets/NodeTag.h"

namespace kv {

TvsNodeTag NewNodeTag(quint8 kind, qint32 typeNumber, bool checked)
{
    TvsNodeTag tag;
    tag.Kind = kind;
    tag.TypeNumber = typeNumber;
    tag.Checked = checked;
    return tag;
}

TvsNodeTag* NodeTag(QTreeWidgetItem* node)
{
    // dynamic_cast, not the item's type(): a tree reports its rows removed while a node is already
    // being destroyed, and such a node no longer carries a tag.
    auto* item = dynamic_cast<TvsTreeItem*>(node);
    return item == nullptr ? nullptr : &item->Tag;
}

} // namespace kv
