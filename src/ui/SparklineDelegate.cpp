#include "SparklineDelegate.h"

#include "Sparkline.h"

#include <QApplication>
#include <QPainter>

SparklineDelegate::SparklineDelegate(QObject *parent, int role)
    : QStyledItemDelegate(parent), role_(role)
{
}

void SparklineDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem look = option;
    initStyleOption(&look, index);
    look.text.clear();
    look.icon = QIcon();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &look, painter, widget);

    const QList<double> values = index.data(role_).value<QList<double>>();
    if (values.isEmpty())
        return;
    const std::vector<double> series(values.cbegin(), values.cend());
    const bool selected = option.state & QStyle::State_Selected;
    const QColor color = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QRectF area = QRectF(option.rect).adjusted(3, 4, -3, -4);
    paintSparkline(*painter, area, series, color);
}

QSize SparklineDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QSize base = QStyledItemDelegate::sizeHint(option, index);
    return QSize(Width, std::max(base.height(), option.fontMetrics.height() + 4));
}
