// guispecific: the GUI program's message output (Messages.h). Each message is a modal box that
// the user closes before the caller goes on. The box belongs to the GUI, which installs it here
// when it starts, so this unit needs no window system and nothing below gui/ reaches up into it.
#pragma once

#include <string>

enum class MessageBoxKind { Error, Information };

// Shows one modal box with the caption, the text (a CR LF pair is one line break) and the
// kind's icon, and returns when the user has closed it.
using MessageBoxOutputFn = void (*)(const std::string& caption, const std::string& text,
                                    MessageBoxKind kind);

// Installs the box; null removes it. Without a box a message goes to standard error as one line
// "Error: message" (or "Information: message"), so none is lost.
void SetMessageBoxOutput(MessageBoxOutputFn output);
