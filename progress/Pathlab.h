// A one-line label for paths: a path too wide for it loses directory names
// from its front, so that the deepest directories and the file name stay readable.
#pragma once

#include <QLabel>
#include <string>

class TPathLabel : public QLabel {
  Q_OBJECT
 public:
  // Takes the height of "Aj|" in the owner's font; the label never sizes itself.
  explicit TPathLabel(QWidget* owner = nullptr);

  // The full text last assigned, never the shortened form.
  const std::string& Caption() const { return caption_; }
  // Stores the text and shows it shortened to the label's current width. A
  // later change of width or font does not shorten it again.
  void SetCaption(const std::string& text);
  // The text the label draws.
  std::string ShownText() const { return text().toStdString(); }

 private:
  std::string caption_;
};
