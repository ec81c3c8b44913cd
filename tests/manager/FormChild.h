#pragma once

#include <QObject>
#include <QString>

// A control of a window, found by its object name (any of its type when the
// name is empty); a test fails on the null pointer where there is none.
template <class T, class Owner>
T *Child(const Owner &owner, const char *name = "")
{
    const QObject *window = &*owner;
    T *found = name[0] ? window->template findChild<T *>(QLatin1String(name)) : window->template findChild<T *>();
    if (!found)
        qWarning("no %s named \"%s\"", T::staticMetaObject.className(), name);
    return found;
}
