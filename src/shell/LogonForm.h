#pragma once

#include <QWidget>

// The logon window: made at start-up, kept hidden, holds nothing.
class TfrmLogon : public QWidget {
    Q_OBJECT
public:
    explicit TfrmLogon(QWidget *parent = nullptr);
};
