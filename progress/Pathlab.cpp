#include "Pathlab.h"

TPathLabel::TPathLabel(QWidget* owner) : QLabel(owner) {}

// Stand-in until the shortening lands: shows the text as it is.
void TPathLabel::SetCaption(const std::string& text) {
  caption_ = text;
  setText(QString::fromStdString(text));
}
