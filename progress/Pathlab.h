// A one-line label for paths that shortens a path too wide for it.
#pragma once

#include <QLabel>
#include <string>

class TPathLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TPathLabel(QWidget* owner = nullptr);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& text);

 private:
  std::string caption_;
};
