#pragma once
// What is being published.

enum class CaptureKind { video, screenshot, gif };
