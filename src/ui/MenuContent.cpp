#include "ui/MenuContent.h"

#include "app/AppState.h"
#include "app/AppVersion.h"
#include "platform/Screens.h"
#include "support/L10n.h"

#include <QCoreApplication>
#include <algorithm>

namespace {
using Kind = AppPhase::Kind;
using Action = HotKeys::Action;

QString tr(const char *english)
{
    return L10n::tr(QString::fromUtf8(english));
}

void appendQuitBlock(QList<MenuEntry> &menu)
{
    menu << MenuEntry::separator()
         << MenuEntry::button(tr("Quit Tovrika"), [] { QCoreApplication::quit(); });
}

MenuEntry languageMenu(AppState &app)
{
    const auto marked = [&](const QString &title, const QString &code) {
        return app.languageOverride() == code ? QStringLiteral("✓ ") + title : title;
    };
    const auto choose = [&app](const QString &code) {
        return [&app, code] { app.setLanguageOverride(code); };
    };
    QList<MenuEntry> rows{MenuEntry::button(marked(tr("System Default"), QString()), choose(QString())),
                          MenuEntry::separator()};
    for (const auto &[code, nativeName] : L10n::offeredLanguages())
        rows << MenuEntry::button(marked(nativeName, code), choose(code));
    return MenuEntry::submenu(tr("Language"), rows);
}

// The system default first, then every connected microphone. A stored microphone that is no
// longer connected stays stored, but the default row is the one checked.
MenuEntry microphonePicker(AppState &app)
{
    const QList<MediaDevice> devices = app.audioInputDevices();
    const std::optional<QString> &stored = app.micDeviceID();
    const bool storedIsListed = stored && std::any_of(devices.begin(), devices.end(),
                                                      [&](const MediaDevice &device) { return device.id == *stored; });
    QList<MenuEntry> rows{MenuEntry::choice(app.systemDefaultMicrophoneLabel(), !storedIsListed,
                                            [&app] { app.setMicDeviceID(std::nullopt); })};
    for (const MediaDevice &device : devices) {
        rows << MenuEntry::choice(device.name, storedIsListed && *stored == device.id,
                                  [&app, id = device.id] { app.setMicDeviceID(id); });
    }
    return MenuEntry::submenu(tr("Microphone Device"), rows);
}

MenuEntry cameraPicker(AppState &app)
{
    const std::optional<QString> &stored = app.cameraDeviceID();
    QList<MenuEntry> rows{MenuEntry::choice(tr("Default Camera"), !stored, [&app] { app.setCameraDeviceID(std::nullopt); })};
    for (const MediaDevice &device : app.cameraDevices()) {
        rows << MenuEntry::choice(device.name, stored == device.id,
                                  [&app, id = device.id] { app.setCameraDeviceID(id); });
    }
    return MenuEntry::submenu(tr("Camera Device"), rows);
}

MenuEntry settingsMenu(AppState &app)
{
    QList<MenuEntry> corners;
    for (const auto &[title, value] : MenuContent::cameraCorners()) {
        corners << MenuEntry::choice(L10n::tr(title), app.cameraCorner() == value,
                                     [&app, value = value] { app.setCameraCorner(value); });
    }

    QList<MenuEntry> settings{
        MenuEntry::toggle(tr("Record Microphone"), app.micEnabled(), [&app](bool on) { app.setMicEnabled(on); }),
        MenuEntry::toggle(tr("Record System Audio"), app.systemAudioEnabled(),
                          [&app](bool on) { app.setSystemAudioEnabled(on); }),
        microphonePicker(app),
        MenuEntry::submenu(tr("Camera Bubble"), corners),
    };
    if (app.cameraCorner() != QLatin1String("off"))
        settings << cameraPicker(app);
    settings << MenuEntry::separator()
             << MenuEntry::toggle(tr("Ask for Name After Capture"), app.askForCaptureName(),
                                  [&app](bool on) { app.setAskForCaptureName(on); })
             << MenuEntry::toggle(tr("Ask Who Should Watch After Recording"), app.askForViewers(),
                                  [&app](bool on) { app.setAskForViewers(on); })
             << MenuEntry::toggle(tr("Email me when someone starts a share"), app.notifyOnStart(),
                                  [&app](bool on) { app.setNotifyOnStart(on); })
             << MenuEntry::toggle(tr("Annotate After Screenshot"), app.annotateScreenshots(),
                                  [&app](bool on) { app.setAnnotateScreenshots(on); })
             << MenuEntry::toggle(tr("Use macOS Screenshot Tool"), app.useSystemScreenshotTool(),
                                  [&app](bool on) { app.setUseSystemScreenshotTool(on); })
             << MenuEntry::separator()
             << languageMenu(app)
             << MenuEntry::toggle(tr("Launch at Login"), app.launchAtLogin(), [&app](bool on) { app.setLaunchAtLogin(on); })
             << MenuEntry::text(L10n::text(QStringLiteral("Tovrika {version}"), {{QStringLiteral("version"), AppVersion::label()}}));
    return MenuEntry::submenu(tr("Settings"), settings);
}

// One button when there is at most one screen; with several, a submenu naming each.
MenuEntry fullScreenEntry(AppState &app)
{
    const auto record = [&app](quint32 displayID) {
        app.translationArmed = false;
        app.startFullScreenRecording(displayID);
    };
    const QList<ScreenInfo> screens = app.platform().screens.screens();
    if (screens.size() < 2) {
        return MenuEntry::button(
            tr("Record Full Screen"),
            [&app, record] {
                // The screens of the moment of the press, not those of when the menu was built.
                const QList<ScreenInfo> now = app.platform().screens.screens();
                record(now.isEmpty() ? app.platform().screens.primaryScreen().displayID : now.first().displayID);
            },
            app.hotKeys().keyboardShortcut(Action::toggleFullScreenRecording));
    }
    QList<MenuEntry> rows;
    for (const ScreenInfo &screen : screens)
        rows << MenuEntry::button(screen.name, [record, id = screen.displayID] { record(id); });
    return MenuEntry::submenu(tr("Record Full Screen"), rows);
}

QList<MenuEntry> idleLayout(AppState &app)
{
    const HotKeys &keys = app.hotKeys();
    QList<MenuEntry> menu;
    if (!keys.failedActions().empty()) {
        // A notice rather than a button: there is no window for changing hotkeys yet.
        menu << MenuEntry::text(QStringLiteral("⚠︎ ") + tr("Some hotkeys unavailable")) << MenuEntry::separator();
    }
    menu << fullScreenEntry(app)
         << MenuEntry::button(tr("Record Selected Area…"), [&app] { app.startAreaRecording(); },
                              keys.keyboardShortcut(Action::toggleAreaRecording));
    if (app.canRecordWithTranslation())
        menu << MenuEntry::button(tr("Record with Translation…"), [&app] { app.recordWithTranslation(); });
    if (app.lastSelection()) {
        menu << MenuEntry::button(tr("Record Again (Last Selection)"), [&app] { app.quickRecordLastSelection(); },
                                  keys.keyboardShortcut(Action::quickRecord));
    }
    menu << MenuEntry::button(
                tr("Record GIF (10s)…"),
                [&app] {
                    app.translationArmed = false;
                    app.startGifRecording();
                },
                keys.keyboardShortcut(Action::gifRecording))
         << MenuEntry::button(tr("Upload Video File…"), [&app] { app.uploadVideoFile(); })
         << MenuEntry::separator();
    if (const auto &link = app.lastLink()) {
        menu << MenuEntry::button(L10n::text(QStringLiteral("Copy Last Link ({slug})"), {{QStringLiteral("slug"), link->slug}}),
                                  [&app] { app.copyLastLink(); });
    }
    menu << MenuEntry::button(tr("Open Captures Folder"), [&app] { app.openCapturesFolder(); })
         << MenuEntry::separator()
         << settingsMenu(app)
         << MenuEntry::separator();
    if (const auto &name = app.signedInAs()) {
        menu << MenuEntry::text(L10n::text(QStringLiteral("Signed in as {name}"), {{QStringLiteral("name"), *name}}))
             << MenuEntry::button(tr("Sign Out"), [&app] { app.signOut(); });
    } else {
        menu << MenuEntry::text(tr("Not signed in — captures won't be shared"))
             << MenuEntry::button(tr("Sign In…"), [&app] { app.signIn(); });
    }
    appendQuitBlock(menu);
    return menu;
}

QList<MenuEntry> statusLayout(const QString &status)
{
    QList<MenuEntry> menu{MenuEntry::text(status)};
    appendQuitBlock(menu);
    return menu;
}
} // namespace

namespace MenuContent {

const QList<std::pair<QString, QString>> &cameraCorners()
{
    static const QList<std::pair<QString, QString>> corners = {
        {QStringLiteral("Off"), QStringLiteral("off")},
        {QStringLiteral("Top Left"), QStringLiteral("tl")},
        {QStringLiteral("Top Right"), QStringLiteral("tr")},
        {QStringLiteral("Bottom Left"), QStringLiteral("bl")},
        {QStringLiteral("Bottom Right"), QStringLiteral("br")},
    };
    return corners;
}

QList<MenuEntry> build(AppState &app)
{
    const AppPhase &phase = app.phase();
    const L10n::Values time{{QStringLiteral("time"), app.elapsed()}};
    switch (phase.kind) {
    case Kind::recording:
        // No quit entry while recording: stopping comes first.
        return {MenuEntry::button(tr("Stop Recording"), [&app] { app.stopRecording(); },
                                  app.hotKeys().keyboardShortcut(Action::toggleAreaRecording)),
                MenuEntry::button(app.recordingPaused() ? tr("Resume Recording") : tr("Pause Recording"),
                                  [&app] { app.togglePauseRecording(); }),
                MenuEntry::button(tr("Redo Recording"), [&app] { app.redoRecording(); }),
                MenuEntry::button(tr("Discard Recording"), [&app] { app.discardRecording(); }),
                MenuEntry::separator(),
                MenuEntry::text(app.recordingPaused() ? L10n::text(QStringLiteral("Paused at {time}"), time)
                                                      : L10n::text(QStringLiteral("Recording… {time}"), time))};
    case Kind::uploading:
        return statusLayout(L10n::text(QStringLiteral("Uploading… {percent}%"),
                                       {{QStringLiteral("percent"), QString::number(phase.percent)}}));
    case Kind::selectingRegion:
        return statusLayout(tr("Drag to select an area (Esc to cancel)"));
    case Kind::processing:
        return statusLayout(app.annotatingScreenshot() ? tr("Annotate the screenshot to continue") : tr("Finishing up…"));
    case Kind::idle:
        if (app.signingIn()) {
            QList<MenuEntry> menu{MenuEntry::text(tr("Waiting for sign-in…")),
                                  MenuEntry::button(tr("Cancel Sign-In"), [&app] { app.cancelSignIn(); })};
            appendQuitBlock(menu);
            return menu;
        }
        return idleLayout(app);
    }
    return {};
}

} // namespace MenuContent
