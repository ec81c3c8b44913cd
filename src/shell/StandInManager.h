#pragma once

#include <QWidget>

class QFrame;
class QListWidget;

// Holds the manager's place in the first tab until the manager window is built:
// a top panel for the banner and the link button, and the catalogue's servers
// in a plain list, loaded when first shown.
class TStandInManager : public QWidget {
    Q_OBJECT
public:
    explicit TStandInManager(QWidget *parent = nullptr);

    QFrame *TopPanel() const { return pnlTop; }

signals:
    void ListFilled(int rows);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FillList();

    QFrame *pnlTop;
    QListWidget *lvSvr;
    bool loaded_ = false;
};
