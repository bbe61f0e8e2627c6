// Modal message boxes and Yes/No questions of the window. Texts are always shown as plain text (a
// server's answer must never be read as markup). Tests install a hook that answers instead, so no
// real modal box ever blocks a test.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm::ui {

enum class BoxKind { Message, Question };

// Called on the GUI thread instead of showing a box; the result is the answer to a question.
using MessageHook = std::function<bool(BoxKind kind, const QString& text, const QString& title)>;
void SetMessageHook(MessageHook hook);

// The caption used when a caller gives none.
QString DefaultCaption();

void ShowMessageBox(QWidget* parent, const QString& text, const QString& title = {});
// True for Yes.
bool AskYesNoBox(QWidget* parent, const QString& text, const QString& title = {});

}  // namespace qm::ui
