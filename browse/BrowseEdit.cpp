#include "BrowseEdit.h"

#include <qdrawutil.h>

#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

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
  Q_INIT_RESOURCE(browse);  // the folder picture lives in this static library
  setStyle(EditStyle());
  setFrame(true);
  setCursor(Qt::IBeamCursor);

  button_ = new QToolButton(this);
  button_->setObjectName("btnBrowse");
  button_->setIcon(QIcon(":/browse/folder.png"));
  button_->setIconSize(QSize(13, 14));
  button_->setToolTip("Browse for folder");
  button_->setAccessibleName("Browse for folder");
  button_->setAccessibleDescription("Opens the folder dialog (F4 or Alt+Down in the field)");
  button_->setCursor(Qt::ArrowCursor);
  // Reached by Tab from the field; a click leaves the focus where it was.
  button_->setFocusPolicy(Qt::TabFocus);
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

void TCustomBrowseEdit::showEvent(QShowEvent* event) {
  // The window arranges its tab order after creating the field; the button
  // goes right behind its field once that order is settled.
  QWidget::setTabOrder(this, button_);
  QLineEdit::showEvent(event);
}

void TCustomBrowseEdit::PlaceButton() {
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  button_->setGeometry(width() - frame - kButtonWidth, frame, kButtonWidth, height() - 2 * frame);
}
