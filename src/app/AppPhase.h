#pragma once
// The capture phase of the program. Equality compares the case and its value.

#include <QDateTime>
#include <QString>

struct AppPhase {
    enum class Kind { idle, selectingRegion, recording, processing, uploading };

    Kind kind = Kind::idle;
    QDateTime started; // recording: when its first segment began
    int percent = 0;   // uploading: 0-100

    static AppPhase idle() { return {}; }
    static AppPhase selectingRegion() { return {Kind::selectingRegion, {}, 0}; }
    static AppPhase recording(const QDateTime &started) { return {Kind::recording, started, 0}; }
    static AppPhase processing() { return {Kind::processing, {}, 0}; }
    static AppPhase uploading(int percent) { return {Kind::uploading, {}, percent}; }

    bool is(Kind k) const { return kind == k; }
    bool operator==(const AppPhase &) const = default;

    // How the phase appears in log lines: "idle", "recording(started: 2026-12-11T02:44:42Z)",
    // "uploading(percent: 42)".
    QString description() const;
    static QString caseName(Kind kind);
};
