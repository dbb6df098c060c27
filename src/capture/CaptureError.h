#pragma once
// Failures of screen capture, and the one mapping of any capture failure to the text shown to
// the user.

#include "support/UserFacingError.h"

#include <QString>
#include <exception>

class CaptureError : public UserFacingError {
public:
    enum class Kind { failed, displayNotFound, notRecording };

    // `text` is shown as it is: pass it through L10n::tr first.
    static CaptureError failed(const QString &text) { return CaptureError(Kind::failed, text); }
    static CaptureError displayNotFound();
    static CaptureError notRecording();

    Kind kind() const noexcept { return m_kind; }
    QString domain() const override { return QStringLiteral("Tovrika.CaptureError"); }
    int code() const override { return int(m_kind); }

private:
    CaptureError(Kind kind, const QString &description)
        : UserFacingError(description)
        , m_kind(kind)
    {
    }
    Kind m_kind;
};

// The text shown when the microphone cannot be used.
QString microphoneBlockedText();
// The text shown when the screen itself cannot be captured.
QString screenCaptureBlockedText();

bool isMicrophoneCaptureError(const std::exception &error);
// Logs the error and answers the text to show for a failed start, resume or screenshot.
QString friendlyCaptureMessage(const std::exception &error);
