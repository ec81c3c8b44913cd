#pragma once

#include <QTabBar>
#include <QTabWidget>

// A tab strip that reports every mouse press after it has acted on it, so that a
// press that picks a tab is seen with that tab already current.
class TTabBar : public QTabBar {
    Q_OBJECT
public:
    using QTabBar::QTabBar;

signals:
    void MouseDown(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// Tabs with pages, over a TTabBar.
class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget *parent = nullptr);

    TTabBar *TabBar() const { return bar_; }

private:
    TTabBar *bar_;
};
