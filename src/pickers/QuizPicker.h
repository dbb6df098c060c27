#pragma once
// The window in which the user reviews and confirms the quiz questions of a shared video.

#include <qcorotask.h>

class ApiClient;

class QuizPicker {
public:
    virtual ~QuizPicker() = default;
    virtual QCoro::Task<> run(qint64 videoId, ApiClient &api) = 0;
};
