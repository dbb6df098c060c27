#pragma once
// The window in which the user plans the translations of the next recording and starts it.

#include "pickers/TranslationPlan.h"

#include <optional>
#include <qcorotask.h>

// What the picker asks the program to record next.
enum class TranslationChoice { area, fullScreen };

class TranslationPicker {
public:
    virtual ~TranslationPicker() = default;
    // Shows the picker; answers what to record, or nothing when the user closed it.
    virtual QCoro::Task<std::optional<TranslationChoice>> run() = 0;
    // The plan the user saved last.
    virtual TranslationPlan savedPlan() const = 0;
};
