#pragma once
// The few reply shapes the service sends, and the wrapper that turns a thrown HttpError (or
// any other exception) into a JSON error reply instead of a dropped connection.

#include "server/HttpError.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <httplib.h>

namespace HttpReply {

void json(httplib::Response &res, int status, const QJsonObject &body);
void json(httplib::Response &res, int status, const QJsonArray &body);
void html(httplib::Response &res, int status, const QString &page);
void noContent(httplib::Response &res);
void error(httplib::Response &res, const HttpError &error);

using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
// Runs `handler`, answering its HttpError, or a 500 for anything unexpected, as JSON.
Handler guarded(Handler handler);

// One path capture of a route pattern, as text.
QString capture(const httplib::Request &req, int index);

} // namespace HttpReply
