#pragma once
// A recorder and recording overlays in memory. The recorder writes a few bytes per segment (or
// as many as asked) and can refuse, fail or end on its own; the overlays answer selections and
// countdowns as scripted, and either can be held at a gate.

#include "capture/CaptureError.h"
#include "capture/CaptureOverlays.h"
#include "capture/Recorder.h"
#include "fakes/Gate.h"
#include "pickers/TranslationPicker.h"

#include <QFile>
#include <deque>

class FakeRecorder final : public Recorder {
public:
    struct Start {
        quint32 displayID;
        std::optional<QRectF> sourceRect;
        bool microphone;
        bool systemAudio;
        std::optional<QString> microphoneDeviceID;
        QString filePath;
    };

    QCoro::Task<> start(quint32 displayID, std::optional<QRectF> sourceRect, bool microphone, bool systemAudio,
                        std::optional<QString> microphoneDeviceID, QString filePath) override
    {
        starts.push_back({displayID, sourceRect, microphone, systemAudio, microphoneDeviceID, filePath});
        co_await startGate.pass();
        if (!startFailures.empty()) {
            const PlatformError error = startFailures.front();
            startFailures.pop_front();
            throw error;
        }
        QFile file(filePath);
        if (file.open(QIODevice::WriteOnly))
            file.write(segmentBytes);
        current = filePath;
    }

    QCoro::Task<QString> stop() override
    {
        ++stopCalls;
        co_await stopGate.pass();
        if (!current)
            throw CaptureError::notRecording();
        const QString file = *current;
        current.reset();
        if (stopFailure)
            throw *stopFailure;
        co_return file;
    }

    std::optional<QString> currentFile() const override { return current; }

    // The capture ends without being asked, as when the display goes away.
    void endOnItsOwn(std::optional<PlatformError> error, bool keepFile = true)
    {
        std::optional<QString> file = current;
        current.reset();
        if (file && !keepFile)
            QFile::remove(*file);
        onExternalStop(keepFile ? file : std::nullopt, error);
    }

    std::vector<Start> starts;
    int stopCalls = 0;
    std::optional<QString> current;
    std::deque<PlatformError> startFailures;
    std::optional<PlatformError> stopFailure;
    QByteArray segmentBytes = "segment";
    Gate startGate;
    Gate stopGate;
};

class FakeOverlays final : public CaptureOverlays {
public:
    QCoro::Task<std::optional<RegionSelection>> selectRegion() override
    {
        ++selections;
        co_await selectionGate.pass();
        co_return std::optional<RegionSelection>(selection);
    }

    QCoro::Task<bool> countdown(quint32, std::optional<QRectF>, int seconds, bool atCorner) override
    {
        ++countdowns;
        lastCountdownSeconds = seconds;
        lastCountdownAtCorner = atCorner;
        co_await countdownGate.pass();
        co_return countdownRunsOut;
    }

    void showBorder(quint32 displayID, const QRectF &sourceRect) override { border = std::pair(displayID, sourceRect); }
    void hideBorder() override { border.reset(); }
    void showCameraBubble(quint32, std::optional<QRectF>, const QString &corner, std::optional<QString>) override
    {
        bubbleCorner = corner;
    }
    void hideCameraBubble() override { bubbleCorner.reset(); }

    std::optional<RegionSelection> selection = RegionSelection{7, QRectF(10, 20, 300, 200)};
    bool countdownRunsOut = true;
    int selections = 0;
    int countdowns = 0;
    int lastCountdownSeconds = 0;
    bool lastCountdownAtCorner = true;
    std::optional<std::pair<quint32, QRectF>> border;
    std::optional<QString> bubbleCorner;
    Gate selectionGate;
    Gate countdownGate;
};

class FakeTranslationPicker final : public TranslationPicker {
public:
    QCoro::Task<std::optional<TranslationChoice>> run() override
    {
        ++runs;
        co_return std::optional<TranslationChoice>(choice);
    }
    TranslationPlan savedPlan() const override { return plan; }
    std::optional<TranslationChoice> choice;
    TranslationPlan plan;
    int runs = 0;
};
