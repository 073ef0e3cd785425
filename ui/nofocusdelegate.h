#pragma once

#include <QStyledItemDelegate>

// Paints table cells as usual, selected rows included, but never with the
// focus frame. Used by the tables of the race-detail screens.
class NoFocusDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit NoFocusDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
