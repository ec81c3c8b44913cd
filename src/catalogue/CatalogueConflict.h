#pragma once

#include "AppError.h"
#include "RdpCommon.h"

// A save refused because another administrator changed the record after the one
// saving had read it. Carries the record as it is stored now and its version, to
// show what changed and to save again on top of it.
class EServerChanged : public AppError {
public:
    EServerChanged(TSvrItem theirs, int version)
        : AppError(QStringLiteral("其他管理员在您编辑期间修改了这台服务器。")), theirs_(std::move(theirs)), version_(version)
    {
    }
    const TSvrItem &Theirs() const { return theirs_; }
    TSvrItem &Theirs() { return theirs_; }
    int Version() const { return version_; }

private:
    TSvrItem theirs_;
    int version_;
};

class EGroupChanged : public AppError {
public:
    EGroupChanged(TSvrGroup theirs, int version)
        : AppError(QStringLiteral("其他管理员在您编辑期间修改了这个组。")), theirs_(std::move(theirs)), version_(version)
    {
    }
    const TSvrGroup &Theirs() const { return theirs_; }
    int Version() const { return version_; }

private:
    TSvrGroup theirs_;
    int version_;
};
