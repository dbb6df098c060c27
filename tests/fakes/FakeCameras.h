#pragma once
// Cameras in memory: a list of devices, an access answer that can be held back, and feeds
// that can refuse to open or to start and that deliver pictures on request.

#include "platform/Cameras.h"

#include <QStringList>
#include <QTimer>
#include <qcorosignal.h>

class FakeCameras final : public Cameras {
public:
    struct Feed final : CameraFeed {
        Feed(FakeCameras &owner, FrameHandler frame, FailureHandler failure)
            : cameras(owner)
            , onFrame(std::move(frame))
            , onFailure(std::move(failure))
        {
        }
        ~Feed() override { cameras.running.removeAll(this); }
        bool start() override
        {
            if (!cameras.startSucceeds)
                return false;
            cameras.running.append(this);
            return true;
        }
        void stop() override { cameras.running.removeAll(this); }

        FakeCameras &cameras;
        FrameHandler onFrame;
        FailureHandler onFailure;
    };

    QCoro::Task<bool> requestAccess() override
    {
        ++accessRequests;
        if (!access) {
            m_answer.setSingleShot(true);
            co_await qCoro(&m_answer, &QTimer::timeout);
        }
        co_return access.value_or(false);
    }
    QList<MediaDevice> devices() override { return list; }
    std::optional<MediaDevice> defaultDevice() override
    {
        return list.isEmpty() ? std::nullopt : std::optional(list.first());
    }
    std::unique_ptr<CameraFeed> open(const MediaDevice &device, FrameHandler onFrame, FailureHandler onFailure) override
    {
        opened.append(device.id);
        if (unopenable.contains(device.id))
            return nullptr;
        return std::make_unique<Feed>(*this, std::move(onFrame), std::move(onFailure));
    }

    // Answers a held-back access question.
    void answer(bool granted)
    {
        access = granted;
        m_answer.start(0);
    }

    QList<MediaDevice> list;
    std::optional<bool> access = true; // nothing: the question stays open until answer()
    QStringList unopenable;
    bool startSucceeds = true;
    int accessRequests = 0;
    QStringList opened;
    QList<Feed *> running;

private:
    QTimer m_answer;
};
