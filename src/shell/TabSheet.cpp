#include "TabSheet.h"

#include <QVBoxLayout>

TTabSheet::TTabSheet(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}
