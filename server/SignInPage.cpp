#include "server/SignInPage.h"

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString initials(const QString &name)
{
    QString letters;
    for (const QString &word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        letters += word.front().toUpper();
        if (letters.size() == 2)
            break;
    }
    return letters;
}

// A soft, stable colour per person so the list is easy to scan.
QString avatarColour(const QString &id)
{
    return QStringLiteral("hsl(%1, 55%, 45%)").arg(qHash(id) % 360);
}

const char *kStyle = R"css(
* { box-sizing: border-box; }
body { margin: 0; min-height: 100vh; display: flex; align-items: center; justify-content: center;
       font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, Ubuntu, sans-serif;
       background: linear-gradient(135deg, #eef2ff 0%, #f8fafc 60%, #ecfeff 100%); color: #0f172a; }
main { width: min(440px, 94vw); background: #fff; border-radius: 16px; padding: 32px 32px 24px;
       box-shadow: 0 10px 40px rgba(15, 23, 42, .12); }
.brand { display: flex; align-items: center; gap: 10px; font-weight: 600; color: #4338ca; margin-bottom: 18px; }
.brand .dot { width: 26px; height: 26px; border-radius: 50%; background: radial-gradient(circle at 35% 35%, #a5b4fc, #4338ca); }
h1 { font-size: 22px; margin: 0 0 4px; }
p.lead { margin: 0 0 20px; color: #475569; }
.notice { background: #fef2f2; color: #991b1b; border-radius: 8px; padding: 10px 12px; margin-bottom: 16px; }
label { display: block; font-weight: 600; font-size: 13px; margin-bottom: 6px; }
.row { display: flex; gap: 8px; }
input[type=text] { flex: 1; padding: 10px 12px; border: 1px solid #cbd5e1; border-radius: 8px; font: inherit; }
input[type=text]:focus { outline: 2px solid #818cf8; border-color: transparent; }
button { font: inherit; cursor: pointer; border-radius: 8px; }
.primary { background: #4338ca; color: #fff; border: 0; padding: 10px 16px; font-weight: 600; }
.primary:hover { background: #3730a3; }
.or { margin: 22px 0 10px; font-size: 13px; color: #64748b; }
ul { list-style: none; margin: 0; padding: 0; max-height: 300px; overflow: auto; }
li button.person { width: 100%; display: flex; align-items: center; gap: 12px; text-align: left;
       background: none; border: 1px solid transparent; padding: 8px 10px; }
li button.person:hover, li button.person:focus { background: #f1f5f9; border-color: #e2e8f0; }
.avatar { width: 36px; height: 36px; border-radius: 50%; color: #fff; display: flex; align-items: center;
          justify-content: center; font-weight: 600; font-size: 14px; flex: none; }
.who { display: flex; flex-direction: column; min-width: 0; }
.who .email { color: #64748b; font-size: 13px; overflow: hidden; text-overflow: ellipsis; }
.badge { margin-left: auto; font-size: 12px; color: #047857; background: #ecfdf5; border-radius: 999px; padding: 2px 8px; }
footer { display: flex; justify-content: space-between; align-items: center; margin-top: 20px; font-size: 12px; color: #64748b; }
.cancel { background: none; border: 1px solid #cbd5e1; padding: 8px 14px; color: #334155; }
.cancel:hover { background: #f8fafc; }
)css";

QString page(const QString &title, const QString &body)
{
    return QStringLiteral("<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<title>%1</title><style>%2</style></head><body><main>"
                          "<div class=\"brand\"><span class=\"dot\"></span>Tovrika</div>%3</main></body></html>")
        .arg(escaped(title), QString::fromUtf8(kStyle), body);
}

} // namespace

namespace SignInPage {

QString render(const Content &content)
{
    QString people;
    for (const DirectoryPerson &person : content.people) {
        const bool current = person.id == content.signedInUserId;
        people += QStringLiteral("<li><button class=\"person\" type=\"submit\" name=\"login\" value=\"%1\">"
                                 "<span class=\"avatar\" style=\"background:%2\">%3</span>"
                                 "<span class=\"who\"><span>%4</span><span class=\"email\">%5</span></span>%6</button></li>")
                      .arg(escaped(person.userName), avatarColour(person.id), escaped(initials(person.displayName)), escaped(person.displayName),
                           escaped(person.email), current ? QStringLiteral("<span class=\"badge\">Signed in</span>") : QString());
    }
    const QString lead = content.forcedLogin ? QStringLiteral("Tovrika asked you to sign in again. Pick your account or type your work e-mail.")
                                             : QStringLiteral("Pick your account or type your work e-mail to continue to Tovrika.");
    const QString notice = content.message.isEmpty() ? QString() : QStringLiteral("<div class=\"notice\" role=\"alert\">%1</div>").arg(escaped(content.message));
    // "Continue" comes first in the form so that Enter in the field submits what was typed.
    const QString body = QStringLiteral(
                             "<h1>Sign in</h1><p class=\"lead\">%1</p>%2"
                             "<form method=\"post\" action=\"%3\">"
                             "<input type=\"hidden\" name=\"request\" value=\"%4\">"
                             "<label for=\"typed\">Work e-mail or user name</label>"
                             "<div class=\"row\"><input type=\"text\" id=\"typed\" name=\"typed\" value=\"%5\" autocomplete=\"username\" autofocus>"
                             "<button class=\"primary\" type=\"submit\" name=\"action\" value=\"continue\">Continue</button></div>"
                             "<div class=\"or\">Or choose an account</div><ul>%6</ul>"
                             "<footer><span>Signing in shares your name and e-mail with Tovrika.</span>"
                             "<button class=\"cancel\" type=\"submit\" name=\"action\" value=\"cancel\">Cancel</button></footer>"
                             "</form>")
                             .arg(escaped(lead), notice, escaped(content.formAction), escaped(content.requestId), escaped(content.typedLogin), people);
    return page(QStringLiteral("Sign in to Tovrika"), body);
}

QString errorPage(const QString &title, const QString &detail)
{
    return page(title, QStringLiteral("<h1>%1</h1><p class=\"lead\">%2</p>").arg(escaped(title), escaped(detail)));
}

} // namespace SignInPage
