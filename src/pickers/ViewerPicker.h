#pragma once
// The window in which the user chooses who should watch a recording (people, groups, outside
// e-mail addresses) and whether to ask for a quiz, while the upload runs.

#include "service/WireRecords.h"

#include <optional>
#include <qcorotask.h>

class ApiClient;

class ViewerPicker {
public:
    virtual ~ViewerPicker() = default;
    // The chosen viewers, or nothing when the user skipped.
    virtual QCoro::Task<std::optional<ViewerSelection>> run(QString title, ApiClient &api) = 0;
};
