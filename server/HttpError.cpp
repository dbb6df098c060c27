#include "server/HttpError.h"

HttpError::HttpError(int status, const QString &title, const QString &code)
    : std::runtime_error(title.toStdString())
    , m_status(status)
    , m_title(title)
    , m_code(code)
{
}
