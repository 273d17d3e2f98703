#include "BrowseEdit.h"

#include <qdrawutil.h>

#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

#include "FolderPicture.h"
#include "Ui.h"

namespace {
// Wide enough for the 13-pixel picture inside the button's bevel.
constexpr int kButtonWidth = 18;

// The classic sunken single-line border: two pixels, lowered, on the base colour.
class SunkenEditStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_PanelLineEdit) {
      const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
      const QBrush& base = option->palette.brush(QPalette::Base);
      if (frame && frame->lineWidth > 0)
        qDrawWinPanel(painter, option->rect, option->palette, true, &base);
      else
        painter->fillRect(option->rect, base);
      return;
    }
    if (element == PE_FrameLineEdit) {
      qDrawWinPanel(painter, option->rect, option->palette, true, nullptr);
      return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_DefaultFrameWidth) return 2;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// The folder picture from its file, and twice its size pixel for pixel for
// screens scaled by 2, so that it stays as sharp as the Windows button's.
QIcon FolderIcon() {
  const QImage picture(FolderPictureXpm());
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(picture));
  QPixmap doubled = QPixmap::fromImage(picture.scaled(picture.size() * 2));
  doubled.setDevicePixelRatio(2);
  icon.addPixmap(doubled);
  return icon;
}

QStyle* EditStyle() {
  static auto* style = new SunkenEditStyle;
  return style;
}

bool OpensDialog(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  return (event->key() == Qt::Key_F4 && mods == Qt::NoModifier) ||
         (event->key() == Qt::Key_Down && mods == Qt::AltModifier);
}
}  // namespace

TCustomBrowseEdit::TCustomBrowseEdit(QWidget* parent) : QLineEdit(parent) {
  setStyle(EditStyle());
  setFrame(true);
  setCursor(Qt::IBeamCursor);

  button_ = new QToolButton(this);
  button_->setObjectName("btnBrowse");
  button_->setIcon(FolderIcon());
  button_->setIconSize(QSize(13, 14));
  button_->setToolTip("Browse for folder");
  button_->setAccessibleName("Browse for folder");
  button_->setAccessibleDescription("Opens the folder dialog (F4 or Alt+Down in the field)");
  button_->setCursor(Qt::ArrowCursor);
  // Not a tab stop: Tab goes from the field to the next control, and F4 or
  // Alt+Down in the field opens the dialog from the keyboard.
  button_->setFocusPolicy(Qt::NoFocus);
  connect(button_, &QToolButton::clicked, this, [this] { RunGuarded([&] { Browse(); }); });
  setTextMargins(0, 0, kButtonWidth, 0);
  PlaceButton();
}

void TCustomBrowseEdit::Browse() {
  TBrowseDlg dialog;  // no owner; gone on every way out of here
  dialog.StartFolder = StartFolder;
  dialog.Options = Options;
  if (StartWithLast && !text().isEmpty()) dialog.SetSelectedFolder(text().toStdString());
  if (dialog.Execute()) setText(QString::fromStdString(dialog.SelectedFolder()));
}

void TCustomBrowseEdit::keyPressEvent(QKeyEvent* event) {
  if (OpensDialog(event)) {
    event->accept();
    RunGuarded([&] { Browse(); });
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TCustomBrowseEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceButton();
}

void TCustomBrowseEdit::PlaceButton() {
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  button_->setGeometry(width() - frame - kButtonWidth, frame, kButtonWidth, height() - 2 * frame);
}
