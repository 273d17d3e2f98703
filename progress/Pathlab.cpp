#include "Pathlab.h"

#include <QFontMetrics>

#include "ShortenPath.h"

TPathLabel::TPathLabel(QWidget* owner) : QLabel(owner) {
  // Paths are shown as they are: an "&" in a directory name is drawn, not
  // taken as an accelerator, and a name that looks like markup stays text.
  // The label has no control to give focus to, so an accelerator would only
  // garble the path, and this way the drawn width is the measured width.
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setAutoFillBackground(true);
  if (owner) {
    const QFontMetrics metrics(owner->font());
    resize(width(), metrics.size(Qt::TextSingleLine, QStringLiteral("Aj|")).height());
  }
}

void TPathLabel::SetCaption(const std::string& text) {
  caption_ = text;
  const QFontMetrics metrics(font());
  const TextWidth measure = [&metrics](const std::string& s) {
    return metrics.horizontalAdvance(QString::fromStdString(s));
  };
  setText(QString::fromStdString(ShortenPath(text, width(), measure)));
}
