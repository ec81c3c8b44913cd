#include "AppError.h"

AppError::AppError(QString message)
    : message_(std::move(message)), utf8_(message_.toUtf8())
{
}
