// ContextHelp: reading qrx.hlp and showing its topics at the controls.
#include "gui/ContextHelp.h"

#include <QDir>
#include <QShortcut>
#include <QVariant>
#include <QWhatsThis>
#include <QWidget>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/General.h"

namespace {
std::string& HelpPath() {
    static std::string path;
    return path;
}

// Cached topics of the help file, read again when the path changes.
struct LoadedHelp {
    std::string path;
    bool readable = false;
    std::map<int, HelpTopic> topics;
};

const LoadedHelp& Loaded() {
    static LoadedHelp loaded;
    static bool valid = false;
    if (!valid || loaded.path != HelpFile()) {
        loaded = LoadedHelp{};
        loaded.path = HelpFile();
        std::ifstream in(loaded.path, std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            loaded.readable = true;
            loaded.topics = ParseHelpText(text.str());
        }
        valid = true;
    }
    return loaded;
}

bool ParseHeading(const std::string& line, int& context, std::string& title) {
    if (line.size() < 6 || line[0] != '[')
        return false;
    const size_t close = line.find(']');
    if (close == std::string::npos || close < 2)
        return false;
    int value = 0;
    for (size_t i = 1; i < close; ++i) {
        if (line[i] < '0' || line[i] > '9' || value > 100000)
            return false;
        value = value * 10 + (line[i] - '0');
    }
    size_t start = close + 1;
    while (start < line.size() && line[start] == ' ')
        ++start;
    context = value;
    title = line.substr(start);
    return true;
}

std::string JoinTrimmed(const std::vector<std::string>& lines) {
    size_t first = 0, last = lines.size();
    while (first < last && lines[first].find_first_not_of(" \t") == std::string::npos)
        ++first;
    while (last > first && lines[last - 1].find_first_not_of(" \t") == std::string::npos)
        --last;
    std::string text;
    for (size_t i = first; i < last; ++i) {
        if (i > first)
            text += '\n';
        text += lines[i];
    }
    return text;
}

QString HtmlEscaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped();
}
} // namespace

std::map<int, HelpTopic> ParseHelpText(const std::string& text) {
    std::map<int, HelpTopic> topics;
    std::istringstream in(text);
    std::string line;
    int current = -1;
    std::string title;
    std::vector<std::string> body;
    auto finish = [&] {
        if (current >= 0)
            topics[current] = HelpTopic{title, JoinTrimmed(body)};
        body.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        int context = 0;
        std::string heading;
        if (ParseHeading(line, context, heading)) {
            finish();
            current = context;
            title = heading;
        } else if (current >= 0) {
            body.push_back(line);
        }
    }
    finish();
    return topics;
}

void SetHelpFile(const std::string& path) {
    HelpPath() = path;
}

std::string HelpFile() {
    return HelpPath();
}

std::string DefaultHelpFile() {
    const std::string beside = ProgramDirectory() + "qrx.hlp";
    if (std::ifstream(beside).good())
        return beside;
    const std::string installed = ProgramDirectory() + QRX_DATA_FROM_PROGRAMS "/qrx.hlp";
    return QDir::cleanPath(QString::fromStdString(installed)).toStdString();
}

std::string HelpPopupText(int context) {
    const LoadedHelp& help = Loaded();
    if (!help.readable)
        return "Help is not available: the help file " + help.path +
               " could not be read. Reinstall Quorix to restore it.";
    const auto topic = help.topics.find(context);
    if (topic == help.topics.end())
        return "The help file " + help.path + " has no topic " + std::to_string(context) + ".";
    return topic->second.Title + "\n\n" + topic->second.Text;
}

int HelpContextOf(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        const QVariant value = w->property(HelpContextProperty);
        if (value.isValid() && value.toInt() > 0)
            return value.toInt();
    }
    return 0;
}

namespace {
// Rich text so the title stands out and the paragraphs of the text wrap.
QString PopupHtml(int context) {
    const std::string text = HelpPopupText(context);
    const size_t split = text.find("\n\n");
    if (split == std::string::npos)
        return HtmlEscaped(text);
    QString html = "<b>" + HtmlEscaped(text.substr(0, split)) + "</b>";
    std::istringstream body(text.substr(split + 2));
    std::string paragraph, line;
    auto flush = [&] {
        if (!paragraph.empty())
            html += "<p>" + HtmlEscaped(paragraph) + "</p>";
        paragraph.clear();
    };
    while (std::getline(body, line)) {
        if (line.empty())
            flush();
        else
            paragraph += (paragraph.empty() ? "" : " ") + line;
    }
    flush();
    return html;
}
} // namespace

bool ShowContextHelp(QWidget* w) {
    const int context = HelpContextOf(w);
    if (context == 0)
        return false;
    const QPoint at = w->mapToGlobal(QPoint(w->width() / 2, w->height()));
    QWhatsThis::showText(at, PopupHtml(context), w);
    return true;
}

void InstallContextHelp(QWidget* window) {
    // What's This mode asks a clicked control for its text and passes the question on to the
    // enclosing controls when it has none, so only numbered controls carry one.
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    for (QWidget* w : children) {
        const QVariant value = w->property(HelpContextProperty);
        if (value.isValid() && value.toInt() > 0)
            w->setWhatsThis(PopupHtml(value.toInt()));
    }
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), window);
    f1->setContext(Qt::WindowShortcut);
    QObject::connect(f1, &QShortcut::activated, window, [window] {
        QWidget* focus = window->focusWidget();
        ShowContextHelp(focus ? focus : window);
    });
    auto* whatsThis = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), window);
    whatsThis->setContext(Qt::WindowShortcut);
    QObject::connect(whatsThis, &QShortcut::activated, window,
                     [] { QWhatsThis::enterWhatsThisMode(); });
}
