#include "capture/CaptureError.h"

#include "platform/PlatformError.h"
#include "platform/ScreenCapture.h"
#include "support/FileLog.h"
#include "support/L10n.h"

namespace {
struct ErrorFacts {
    QString domain;
    int code = 0;
    QString description;
    QString failureReason;
    QString recoverySuggestion;
};

ErrorFacts factsOf(const std::exception &error)
{
    if (const auto *platform = dynamic_cast<const PlatformError *>(&error))
        return {platform->domain(), platform->code(), platform->description(), platform->failureReason(),
                platform->recoverySuggestion()};
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return {userFacing->domain(), userFacing->code(), userFacing->description(), {}, {}};
    return {QStringLiteral("std.exception"), 0, QString::fromUtf8(error.what()), {}, {}};
}
} // namespace

CaptureError CaptureError::displayNotFound()
{
    return CaptureError(Kind::displayNotFound, L10n::tr(QStringLiteral("Could not find the selected display.")));
}

CaptureError CaptureError::notRecording()
{
    return CaptureError(Kind::notRecording, L10n::tr(QStringLiteral("No recording is in progress.")));
}

QString microphoneBlockedText()
{
    return L10n::tr(QStringLiteral(
        "macOS blocked the microphone. Grant Tovrika access in System Settings → Privacy & Security → "
        "Microphone, then try again. Screen capture can still work without a mic."));
}

QString screenCaptureBlockedText()
{
    return L10n::tr(QStringLiteral(
        "macOS blocked screen capture. Grant Tovrika access in System Settings → Privacy & Security → "
        "Screen & System Audio Recording, then try again."));
}

bool isMicrophoneCaptureError(const std::exception &error)
{
    const ErrorFacts facts = factsOf(error);
    const QString text = (facts.description + QLatin1Char(' ') + facts.failureReason + QLatin1Char(' ')
                          + facts.recoverySuggestion).toLower();
    if (text.contains(QLatin1String("micro")))
        return true;
    return facts.domain == ScreenCaptureErrors::domain()
        && facts.code == ScreenCaptureErrors::microphoneUnavailable;
}

QString friendlyCaptureMessage(const std::exception &error)
{
    const ErrorFacts facts = factsOf(error);
    FileLog::write(QStringLiteral("capture error domain=%1 code=%2 %3")
                       .arg(facts.domain)
                       .arg(facts.code)
                       .arg(facts.description));
    if (isMicrophoneCaptureError(error))
        return microphoneBlockedText();
    if (facts.domain == ScreenCaptureErrors::domain())
        return screenCaptureBlockedText();
    return facts.description;
}
