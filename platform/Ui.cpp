#include "Ui.h"

#include <cstdio>

namespace {
PlatformUi g_default;
PlatformUi* g_current = &g_default;
}  // namespace

void PlatformUi::ShowMessage(DialogKind, const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

PlatformUi& Ui() {
  return *g_current;
}

void SetUi(PlatformUi* ui) {
  g_current = ui ? ui : &g_default;
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowErrorBox(const std::string& message) {
  Ui().ShowMessage(DialogKind::Error, kApplicationTitle, ErrorBoxText(message));
}
