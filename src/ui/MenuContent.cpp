#include "ui/MenuContent.h"

#include "app/AppState.h"
#include "app/AppVersion.h"
#include "support/L10n.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
using Kind = AppPhase::Kind;

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

MenuEntry settingsMenu(AppState &app)
{
    QList<MenuEntry> corners;
    for (const auto &[title, value] : MenuContent::cameraCorners()) {
        corners << MenuEntry::toggle(L10n::tr(title), app.cameraCorner() == value,
                                     [&app, value = value](bool) { app.setCameraCorner(value); });
    }

    return MenuEntry::submenu(
        tr("Settings"),
        {
            MenuEntry::toggle(tr("Record Microphone"), app.micEnabled(), [&app](bool on) { app.setMicEnabled(on); }),
            MenuEntry::toggle(tr("Record System Audio"), app.systemAudioEnabled(),
                              [&app](bool on) { app.setSystemAudioEnabled(on); }),
            MenuEntry::submenu(tr("Camera Bubble"), corners),
            MenuEntry::separator(),
            MenuEntry::toggle(tr("Ask for Name After Capture"), app.askForCaptureName(),
                              [&app](bool on) { app.setAskForCaptureName(on); }),
            MenuEntry::toggle(tr("Ask Who Should Watch After Recording"), app.askForViewers(),
                              [&app](bool on) { app.setAskForViewers(on); }),
            MenuEntry::toggle(tr("Email me when someone starts a share"), app.notifyOnStart(),
                              [&app](bool on) { app.setNotifyOnStart(on); }),
            MenuEntry::toggle(tr("Annotate After Screenshot"), app.annotateScreenshots(),
                              [&app](bool on) { app.setAnnotateScreenshots(on); }),
            MenuEntry::toggle(tr("Use macOS Screenshot Tool"), app.useSystemScreenshotTool(),
                              [&app](bool on) { app.setUseSystemScreenshotTool(on); }),
            MenuEntry::separator(),
            languageMenu(app),
            MenuEntry::toggle(tr("Launch at Login"), app.launchAtLogin(), [&app](bool on) { app.setLaunchAtLogin(on); }),
            MenuEntry::text(L10n::text(QStringLiteral("Tovrika {version}"), {{QStringLiteral("version"), AppVersion::label()}})),
        });
}

QList<MenuEntry> idleLayout(AppState &app)
{
    QList<MenuEntry> menu;
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
        return {MenuEntry::separator(),
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
