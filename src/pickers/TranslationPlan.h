#pragma once
// What the service should add to a recording: captions in some languages and spoken
// translations with a chosen voice.

#include <QList>
#include <QString>
#include <QStringList>

struct TranslationVoice {
    QString language;
    QString voice;
    bool operator==(const TranslationVoice &) const = default;
};

struct TranslationPlan {
    QString spoken;              // the language spoken in the recording
    QStringList captions;        // caption language codes
    QList<TranslationVoice> voices;
    bool operator==(const TranslationPlan &) const = default;
};
