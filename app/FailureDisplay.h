#pragma once

// The one way the window reports failures and notices: a modal box titled with the
// application's name. Handlers catch at their edge and hand the failure here; the program
// goes on. Tests replace the presenter so that no modal box waits for a click.

#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

// Shows text in a box titled title with the icon, and details (when not empty) behind the
// box's own button for them; must not return before the user has seen it when it is the real
// box. Called on the GUI thread.
using MessagePresenter = std::function<void(QMessageBox::Icon icon, const QString& title,
                                            const QString& text, const QString& details)>;

// Installs presenter for every later message and returns the one it replaces. An empty
// presenter restores the modal QMessageBox.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// message with a full stop appended when its last character's code is above that of "."
// (so text ending in ".", "!", "?" or ")" is kept as it is); empty text stays empty.
QString WithClosingFullStop(const QString& message);

// The failure's own text as a person may read it: a library exception's ShownText (what a peer
// sent escaped), any other exception's what() with every control character escaped.
QString FailureText(const std::exception& failure);

// Shows the failure's text (FailureText), with a closing full stop by WithClosingFullStop, in
// an error box titled with the application's name. Blocks while the real box is open.
void ShowFailure(const std::exception& failure);

// Shows text as it is in a plain box with an OK button, titled with the application's name;
// details, when not empty, are shown on request. Blocks while the real box is open.
void ShowNotice(const QString& text, const QString& details = {});

// Runs handler, showing any failure it raises through ShowFailure instead of letting it
// leave the event handler. Never raises.
void RunGuarded(const std::function<void()>& handler) noexcept;
