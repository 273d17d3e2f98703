#include "FolderBrowser.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "Ui.h"

namespace {
// True when path is dir or lies below it.
bool IsWithin(const QString& path, const QString& dir) {
  if (dir == "/") return path.startsWith('/');
  return path == dir ||
         (path.startsWith(dir) && path.size() > dir.size() && path[dir.size()] == '/');
}

bool HasHiddenPart(const QString& path) {
  for (const QString& part : path.split('/', Qt::SkipEmptyParts))
    if (part.startsWith('.')) return true;
  return false;
}
}  // namespace

FolderBrowserDialog::FolderBrowserDialog(FolderBrowseInfo info)
    : QDialog(info.Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint),
      info_(std::move(info)) {
  setObjectName("FolderBrowser");
  setWindowTitle("Browse for Folder");
  const QString root = QString::fromStdString(RootPath());

  model_ = new QFileSystemModel(this);
  model_->setReadOnly(true);
  QDir::Filters filters = QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot;
  if (info_.Flags & BIF_BROWSEINCLUDEFILES) filters |= QDir::Files;
  model_->setFilter(filters);
  model_->setRootPath(root);

  tree_ = new QTreeView(this);
  tree_->setObjectName("Folders");
  tree_->setAccessibleName("Folders");
  tree_->setModel(model_);
  tree_->setHeaderHidden(true);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  // The file system's root is the tree's one top item; a special folder's
  // contents are the top items under it.
  if (root != "/") tree_->setRootIndex(model_->index(root));
  tree_->expand(model_->index(root));

  instruction_ = new QLabel(QString::fromStdString(info_.Title), this);
  instruction_->setWordWrap(true);
  instruction_->setVisible(!info_.Title.empty());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(instruction_);
  if (info_.Flags & BIF_STATUSTEXT) {
    status_ = new QLabel(this);
    status_->setObjectName("StatusLine");
    layout->addWidget(status_);
  }
  layout->addWidget(tree_, 1);
  if (info_.Flags & BIF_EDITBOX) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel("&Folder:", this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName("EditBox");
    label->setBuddy(edit_);
    row->addWidget(label);
    row->addWidget(edit_, 1);
    layout->addLayout(row);
  }
  ok_ = new QPushButton("OK", this);
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &FolderBrowserDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &FolderBrowserDialog::reject);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { RunGuarded([&] { CurrentChanged(current); }); });
  // Picking the item that is already selected counts as a choice too, so OK
  // never stays disabled under the user's hand.
  connect(tree_, &QTreeView::clicked, this, &FolderBrowserDialog::UserPicked);
  connect(tree_, &QTreeView::activated, this, &FolderBrowserDialog::UserPicked);
  // Folders are listed and sorted in the background, which moves the rows
  // about: until the user takes the tree in hand, the selection is kept in view.
  follow_ = new QTimer(this);
  follow_->setSingleShot(true);
  follow_->setInterval(0);
  connect(follow_, &QTimer::timeout, this, &FolderBrowserDialog::KeepSelectionInView);
  const auto follow = [this] {
    if (following_) follow_->start();
  };
  connect(model_, &QFileSystemModel::rowsInserted, this, follow);
  connect(model_, &QFileSystemModel::layoutChanged, this, follow);
  for (QObject* part : {static_cast<QObject*>(tree_), static_cast<QObject*>(tree_->viewport()),
                        static_cast<QObject*>(tree_->verticalScrollBar())})
    part->installEventFilter(this);

  resize(320, 380);
}

FolderBrowserDialog::~FolderBrowserDialog() = default;

std::optional<std::string> FolderBrowserDialog::Run() {
  // The window exists before its set-up, so that its frame is known where
  // the window system can tell it before the window is shown. create(), not
  // winId(): asking a handle marks the dialog native, and Qt then makes every
  // child of its parent, the main window, a native window of its own.
  create();
  if (info_.Initialized) info_.Initialized(*this);
  // Without a selection from the set-up, the dialog's own initial selection
  // is the root item, as the shell's is; the set-up decided OK's state.
  if (!tree_->currentIndex().isValid() && RootPath() == "/") {
    const bool okEnabled = ok_->isEnabled();
    tree_->setCurrentIndex(model_->index("/"));
    ok_->setEnabled(okEnabled);
  }
  tree_->setFocus();
  if (exec() != QDialog::Accepted) return std::nullopt;
  return chosen_;
}

void FolderBrowserDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  follow_->start();  // the tree has its final size only now
}

bool FolderBrowserDialog::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
      following_ = false;
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void FolderBrowserDialog::KeepSelectionInView() {
  const QModelIndex current = tree_->currentIndex();
  if (current.isValid()) tree_->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

void FolderBrowserDialog::SetStatusText(const std::string& text) {
  if (status_) status_->setText(QString::fromStdString(text));
}

bool FolderBrowserDialog::SetSelection(const std::string& path) {
  if (path.empty()) return false;
  const QFileInfo info(QString::fromStdString(path));
  const bool filesShown = (info_.Flags & BIF_BROWSEINCLUDEFILES) != 0;
  if (!info.isDir() && !(filesShown && info.exists())) return false;
  const QString absolute = QDir::cleanPath(info.absoluteFilePath());
  if (!IsWithin(absolute, QString::fromStdString(RootPath()))) return false;
  if (HasHiddenPart(absolute) && !(model_->filter() & QDir::Hidden))
    model_->setFilter(model_->filter() | QDir::Hidden);
  const QModelIndex item = ItemForPath(absolute.toStdString());
  if (!item.isValid()) return false;
  for (QModelIndex up = item.parent(); up.isValid(); up = up.parent()) tree_->expand(up);
  tree_->setCurrentIndex(item);
  tree_->scrollTo(item, QAbstractItemView::PositionAtCenter);
  return true;
}

void FolderBrowserDialog::EnableOK(bool enabled) {
  ok_->setEnabled(enabled);
}

std::string FolderBrowserDialog::SelectedPath() const {
  return PathOf(tree_->currentIndex());
}

QModelIndex FolderBrowserDialog::ItemForPath(const std::string& path) {
  return model_->index(QString::fromStdString(path));
}

void FolderBrowserDialog::accept() {
  RunGuarded([&] {
    if (!ok_->isEnabled()) return;
    std::string chosen = SelectedPath();
    if (chosen.empty()) chosen = RootPath();
    if (edit_) {
      const QString typed = edit_->text().trimmed();
      if (!typed.isEmpty() && typed.toStdString() != editShown_) {
        const QString candidate = QDir::cleanPath(
            QDir::isAbsolutePath(typed) ? typed
                                        : QDir(QString::fromStdString(chosen)).filePath(typed));
        const QFileInfo found(candidate);
        const bool filesShown = (info_.Flags & BIF_BROWSEINCLUDEFILES) != 0;
        if ((found.isDir() || (filesShown && found.exists())) &&
            IsWithin(candidate, QString::fromStdString(RootPath()))) {
          chosen = candidate.toStdString();
        } else if (info_.Flags & BIF_VALIDATE) {
          if (info_.ValidateFailed && info_.ValidateFailed(*this, typed.toStdString())) return;
          // A name that names no folder is never handed back in its place.
          QDialog::reject();
          return;
        }
      }
    }
    chosen_ = chosen;
    QDialog::accept();
  });
}

void FolderBrowserDialog::CurrentChanged(const QModelIndex& current) {
  const std::string path = PathOf(current);
  ok_->setEnabled(AcceptsItems() && !path.empty());
  if (edit_) {
    editShown_ =
        path == "/" ? path : QFileInfo(QString::fromStdString(path)).fileName().toStdString();
    edit_->setText(QString::fromStdString(editShown_));
  }
  if (info_.SelectionChanged) info_.SelectionChanged(*this, path, current);
}

void FolderBrowserDialog::UserPicked(const QModelIndex& item) {
  if (item.isValid() && AcceptsItems()) ok_->setEnabled(true);
}

// Computers and printers are not part of this tree, so in those modes no item
// can be chosen.
bool FolderBrowserDialog::AcceptsItems() const {
  return (info_.Flags & (BIF_BROWSEFORCOMPUTER | BIF_BROWSEFORPRINTER)) == 0;
}

std::string FolderBrowserDialog::RootPath() const {
  if (info_.Root.empty()) return "/";
  return QDir::cleanPath(QString::fromStdString(info_.Root)).toStdString();
}

std::string FolderBrowserDialog::PathOf(const QModelIndex& item) const {
  if (!item.isValid()) return {};
  return model_->filePath(item).toStdString();
}
