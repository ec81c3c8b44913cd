#pragma once

#include <QTabBar>
#include <QTabWidget>

class QAbstractButton;

// A tab strip that reports every mouse press after it has acted on it, so that a
// press that picks a tab is seen with that tab already current. A middle click on
// a tab asks to close it. The wheel moves between the tabs but passes over the
// last one when WheelSkipsLastTab is set (a tab that acts when it is chosen).
class TTabBar : public QTabBar {
    Q_OBJECT
public:
    using QTabBar::QTabBar;

    bool WheelSkipsLastTab = false;

    // The close button of a tab (tabs are closable), or nullptr when it has none.
    QAbstractButton *CloseButton(int index) const;
    void RemoveCloseButton(int index);

signals:
    void MouseDown(Qt::MouseButton button);
    void MiddleClicked(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
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
