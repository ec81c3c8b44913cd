#include "RdpPresenter.h"

#include "RdpXcbPresenter.h"

#include <QGuiApplication>

namespace {

bool g_enabled = true;

} // namespace

std::unique_ptr<RdpPresenter> RdpPresenter::For(QWidget *view)
{
    if (!g_enabled || !view)
        return nullptr;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return RdpXcbPresenter::Open(view);
    return nullptr;
}

void RdpPresenter::SetEnabled(bool enabled)
{
    g_enabled = enabled;
}
