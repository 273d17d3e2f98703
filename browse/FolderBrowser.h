// The shell's folder browser on this platform: a modal dialog with a tree of
// the file system's folders, an optional instruction text, status line and
// edit box, and OK and Cancel. Its callers steer it as they would the shell's
// dialog: through the flags, the root, and callbacks on initialisation, on
// each change of selection and when a typed folder name is not valid.
#pragma once

#include <QDialog>
#include <QModelIndex>
#include <functional>
#include <optional>
#include <string>

#include "BrowseRules.h"

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeView;
class FolderBrowserDialog;

struct FolderBrowseInfo {
  QWidget* Owner = nullptr;
  // The folder whose contents the tree shows; empty for the whole file
  // system, with "/" as the one top item.
  std::string Root;
  // The instruction text above the tree; none when empty.
  std::string Title;
  // BIF_ flags.
  unsigned Flags = 0;
  // Once the dialog exists, before it is shown.
  std::function<void(FolderBrowserDialog& dialog)> Initialized;
  // After each change of selection, with the new item's path (empty when it
  // has none) and the item itself.
  std::function<void(FolderBrowserDialog& dialog, const std::string& path, const QModelIndex& item)>
      SelectionChanged;
  // With BIF_VALIDATE, when the typed name is not a folder; true keeps the
  // dialog open, false closes it as cancelled.
  std::function<bool(FolderBrowserDialog& dialog, const std::string& text)> ValidateFailed;
};

class FolderBrowserDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FolderBrowserDialog(FolderBrowseInfo info);
  ~FolderBrowserDialog() override;

  // Runs Initialized, then shows the dialog modally: the chosen path ("/" for
  // the root), or nothing when the dialog was cancelled.
  std::optional<std::string> Run();

  // What a callback may ask of the open dialog.
  // Shows text in the status line; without BIF_STATUSTEXT there is none.
  void SetStatusText(const std::string& text);
  // Selects the folder at path; false, with the selection unchanged, when
  // path names no folder in the tree.
  bool SetSelection(const std::string& path);
  void EnableOK(bool enabled);

  // The selected item's path; empty when nothing is selected.
  std::string SelectedPath() const;
  // The tree's item for a path, for a test to select as a user would.
  QModelIndex ItemForPath(const std::string& path);

  QTreeView* Tree() const { return tree_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* Instruction() const { return instruction_; }
  QLabel* StatusLine() const { return status_; }  // null without BIF_STATUSTEXT
  QLineEdit* EditBox() const { return edit_; }    // null without BIF_EDITBOX

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void KeepSelectionInView();
  void CurrentChanged(const QModelIndex& current);
  void UserPicked(const QModelIndex& item);
  bool AcceptsItems() const;
  std::string RootPath() const;
  std::string PathOf(const QModelIndex& item) const;

  FolderBrowseInfo info_;
  QFileSystemModel* model_;
  QTreeView* tree_;
  QLabel* instruction_;
  QLabel* status_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QPushButton* ok_;
  QPushButton* cancel_;
  QTimer* follow_;
  bool following_ = true;
  std::string editShown_;  // what the edit box was given for the selection
  std::string chosen_;
};
