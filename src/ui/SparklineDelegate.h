#pragma once

#include <QStyledItemDelegate>

// Draws a cell as a latency sparkline: the cell's data under role is a
// QList<double> of milliseconds, oldest first, NaN where none (see
// paintSparkline); the cell keeps its background and selection.
class SparklineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int DefaultRole = Qt::UserRole + 40;
    static constexpr int Width = 64;

    explicit SparklineDelegate(QObject *parent = nullptr, int role = DefaultRole);

    int role() const { return role_; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int role_;
};
