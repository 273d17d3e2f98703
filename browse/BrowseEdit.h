// A single-line edit field with a button that browses for a folder.
#pragma once

#include <QLineEdit>

class TCustomBrowseEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TCustomBrowseEdit(QWidget* parent = nullptr);

  bool StartWithLast = false;
};

class TBrowseEdit : public TCustomBrowseEdit {
  Q_OBJECT
 public:
  using TCustomBrowseEdit::TCustomBrowseEdit;
};
