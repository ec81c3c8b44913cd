#pragma once

#include <QWidget>

// One page of the main window's tab strip; its content fills it.
class TTabSheet : public QWidget {
    Q_OBJECT
public:
    explicit TTabSheet(QWidget *parent = nullptr);

    // 0 for the pages made with the window, a browser tab's number otherwise.
    int Tag = 0;
};
