// ContextHelp: the help file qrx.hlp and the pop-up help of the main window's controls.
//
// The help file is plain text: each topic starts with a line "[NNNN] Title" (the control's help
// context number) followed by its text up to the next such line. F1 on a control, or What's This
// mode (Shift+F1, or the title bar's help button) and a click on a control, shows the topic of
// that control, or of its nearest enclosing control that has a number, as a pop-up at it.
#pragma once

#include <map>
#include <string>

class QWidget;

// The name of the dynamic property that holds a control's help context number (1000..1030).
constexpr const char* HelpContextProperty = "HelpContext";

struct HelpTopic {
    std::string Title;
    std::string Text;
    bool operator==(const HelpTopic& other) const {
        return Title == other.Title && Text == other.Text;
    }
};

// The topics of a help file's text by their context number. Lines before the first heading are
// ignored; blank lines around a topic's text are dropped, blank lines inside it kept.
std::map<int, HelpTopic> ParseHelpText(const std::string& text);

// The help file's absolute path, set once at start-up.
void SetHelpFile(const std::string& path);
std::string HelpFile();
// qrx.hlp beside the running program (the build's output folder) when it is there, else in the
// installed data folder reached from the program folder (/usr/lib/quorix/../../share/quorix).
std::string DefaultHelpFile();

// The text the pop-up shows for a context number: the topic's title and text, or a line saying
// that the topic or the help file could not be found.
std::string HelpPopupText(int context);

// The help context number of w or of its nearest enclosing widget that has one; 0 for none.
int HelpContextOf(const QWidget* w);

// Shows the pop-up of w's help topic at w. False when no enclosing control has a number.
bool ShowContextHelp(QWidget* w);

// Gives every numbered control under window its What's This text and binds F1 and Shift+F1.
void InstallContextHelp(QWidget* window);
