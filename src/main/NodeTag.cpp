#include "main/NodeTag.h"

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
    if (node == nullptr || node->type() != TvsTreeItem::kType)
        return nullptr;
    return &static_cast<TvsTreeItem*>(node)->Tag;
}

} // namespace kv
