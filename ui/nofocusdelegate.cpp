#include "ui/nofocusdelegate.h"

NoFocusDelegate::NoFocusDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

void NoFocusDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // A full copy keeps every other field of the option (alignment, elide
    // mode, decoration, font, selection look) as the view set it.
    QStyleOptionViewItem copy(option);
    copy.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, copy, index);
}
