#pragma once
// Hands files, folders and web addresses to the desktop's own programs.

#include <QString>
#include <QUrl>

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens a web address in the default browser, or a folder in the file manager.
    virtual bool open(const QUrl &url) = 0;
    // Shows the file selected in the file manager (or at least its folder).
    virtual void revealFile(const QString &path) = 0;
};
