// A single-line edit field with a small folder button at its right end that
// opens the folder dialog and puts the chosen folder's path into the field.
// The button is no tab stop: F4 or Alt+Down in the field opens the dialog
// from the keyboard.
#pragma once

#include <QLineEdit>

#include "BrowseDlg.h"

class QToolButton;

class TCustomBrowseEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TCustomBrowseEdit(QWidget* parent = nullptr);

  // Handed to the dialog.
  TBrowseDlgOptions Options = kDefaultBrowseDlgOptions;
  TSystemFolders StartFolder = TSystemFolders::bfoDesktopExpanded;
  // Open the dialog on the folder the field already names.
  bool StartWithLast = false;

  // Opens the folder dialog; after OK the field holds the chosen folder.
  void Browse();

  QToolButton* Button() const { return button_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceButton();

  QToolButton* button_;
};

class TBrowseEdit : public TCustomBrowseEdit {
  Q_OBJECT
 public:
  using TCustomBrowseEdit::TCustomBrowseEdit;
};
