// How the device link and the engine tell the operator something: a modal box
// with one OK button. The window implements it; tests record it.
#pragma once

#include <string>

enum class MessageIcon {
  Warning,  // the exclamation icon of ordinary messages
  Error,    // the stop icon (oversize boot-up picture)
};

class OperatorMessages {
 public:
  virtual ~OperatorMessages() = default;
  // Shows the box and returns once the operator has dismissed it. Texts are UTF-8.
  virtual void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  // A one-line hint beside a box, not instead of it (the window logs it). The
  // default writes it to standard error, for programs without a window.
  virtual void ShowPermissionHint(const std::string& text);
};

// Installs the sink that ShowOperatorMessage uses; null restores the default,
// which writes the message to standard error (for programs without a window).
void SetOperatorMessages(OperatorMessages* sink);
void ShowOperatorMessage(const std::string& text, const std::string& title,
                         MessageIcon icon = MessageIcon::Warning);

// The sink's ShowPermissionHint; standard error when no sink is installed.
void ShowPermissionHint(const std::string& text);

// Title of the link's own boxes: the executable's file name without extension.
std::string ApplicationTitle();
