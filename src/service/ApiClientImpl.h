#pragma once
// Template parts of ApiClient.

#include "service/ApiError.h"
#include "service/JsonFields.h"
#include "service/TransportError.h"
#include "support/FileLog.h"

#include <type_traits>

namespace ApiClientDetail {
template <typename T>
struct IsList : std::false_type {};
template <typename T>
struct IsList<QList<T>> : std::true_type {
    using Element = T;
};
} // namespace ApiClientDetail

template <typename T>
T ApiClient::decode(const QByteArray &body)
{
    if (body.isEmpty()) {
        if constexpr (std::is_same_v<T, EmptyOk>)
            return EmptyOk{};
        else
            throw ApiError::transport(L10n::tr(QStringLiteral("No response from the server.")));
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodeError(error.errorString());
    const QJsonValue value = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    if constexpr (ApiClientDetail::IsList<T>::value)
        return JsonFields::list<typename ApiClientDetail::IsList<T>::Element>(value, "the reply");
    else
        return T::fromJson(value);
}

template <typename T, typename Operation>
QCoro::Task<T> ApiClient::withTransportRetry(int attempts, Operation operation)
{
    for (int attempt = 1;; ++attempt) {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await operation();
                co_return;
            } else {
                co_return co_await operation();
            }
        } catch (const TransportError &error) {
            const int code = urlErrorCode(error.networkError());
            if (!isTransient(code))
                throw;
            FileLog::write(QStringLiteral("transient network error (attempt %1/%2): %3 %4")
                               .arg(attempt)
                               .arg(attempts)
                               .arg(code)
                               .arg(error.description()));
            if (attempt >= attempts)
                throw;
        }
        co_await waitMs(retryDelayMs);
    }
}
