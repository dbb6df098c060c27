#pragma once
// Opens addresses and folders with the desktop's default programs (xdg-open), and shows files
// through the file manager's org.freedesktop.FileManager1 interface.

#include "platform/Workspace.h"

class XdgWorkspace final : public Workspace {
public:
    bool open(const QUrl &url) override;
    void revealFile(const QString &path) override;
};
