#pragma once

#include <QTreeWidgetItem>

namespace kv {

// What a node of the main window's trees stands for.
enum TvsNodeKind : quint8
{
    kValueNode = 0, // a value
    kGroupNode = 1, // a group heading
    kAddNode = 2,   // the "Добавить..." item of tvSource
};

struct TvsNodeTag
{
    quint8 Kind = kValueNode;
    qint32 TypeNumber = 0; // the group the node belongs to (a heading's own group)
    bool Checked = false;  // tvSource: the value is in tvChecked; tvChecked: set on values, never read
};

TvsNodeTag NewNodeTag(quint8 kind, qint32 typeNumber, bool checked);

// A tree node that carries its tag. The tag is part of the item, so it is released exactly when the
// tree deletes the node: alone, by clearing the tree or with the window.
class TvsTreeItem final : public QTreeWidgetItem
{
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    TvsTreeItem(const QString& text, const TvsNodeTag& tag) : QTreeWidgetItem(kType), Tag(tag) { setText(0, text); }

    TvsNodeTag Tag;
};

// The tag of a node of either tree; nullptr for a node that has none (none of the program's own).
TvsNodeTag* NodeTag(QTreeWidgetItem* node);

} // namespace kv
