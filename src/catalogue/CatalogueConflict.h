#pragma once

#include "AppError.h"
#include "RdpCommon.h"

// A save refused because another administrator changed the record after the one
// saving had read it. Carries the record as it is stored now and its version, to
// show what changed and to save again on top of it.
class EServerChanged : public AppError {
public:
    EServerChanged(TSvrItem theirs, int version)
        : AppError(QStringLiteral("其他管理员在您编辑期间修改了这台服务器。")), fTheirs(std::move(theirs)), fVersion(version)
    {
    }
    const TSvrItem &Theirs() const { return fTheirs; }
    TSvrItem &Theirs() { return fTheirs; }
    int Version() const { return fVersion; }

private:
    TSvrItem fTheirs;
    int fVersion;
};

class EGroupChanged : public AppError {
public:
    EGroupChanged(TSvrGroup theirs, int version)
        : AppError(QStringLiteral("其他管理员在您编辑期间修改了这个组。")), fTheirs(std::move(theirs)), fVersion(version)
    {
    }
    const TSvrGroup &Theirs() const { return fTheirs; }
    int Version() const { return fVersion; }

private:
    TSvrGroup fTheirs;
    int fVersion;
};
