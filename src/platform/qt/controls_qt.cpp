// The visible controls on Qt widgets. Each widget carries its control's Name
// as its object name, so it can be found in the widget tree.
#include <QCheckBox>
#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <utility>
#include <vector>

#include "platform/qt/window_impl.h"
#include "platform/runtime.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

Qt::Alignment LabelAlignment(std::int32_t code) {
  switch (code) {
    case 1:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case 2:
      return Qt::AlignRight | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

Qt::Alignment FieldAlignment(std::int32_t code) {
  switch (code) {
    case 2:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case 3:
      return Qt::AlignRight | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// A push button that leaves Return and Enter to its window, which pushes one
// button once per press. QPushButton would click itself at every auto-repeat
// of a held key.
class ButtonWidget : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      event->ignore();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

}  // namespace

RectControl::RectControl(Kind kind) : impl_(std::make_unique<Impl>()) { impl_->kind = kind; }
RectControl::~RectControl() = default;

void RectControl::Constructor() {
  AssertMainThread("RectControl.Constructor");
  auto& window = Use(OwnerWindow(), "window of the control");
  QWidget* parent = window.impl().client;
  QWidget* widget = nullptr;
  switch (impl_->kind) {
    case Kind::PushButton: {
      auto* button = new ButtonWidget(parent);
      button->setAutoDefault(false);
      std::weak_ptr<Object> weak = shared_from_this();
      QObject::connect(button, &QPushButton::clicked, button, [weak] {
        if (auto self = std::static_pointer_cast<PushButton>(weak.lock())) {
          self->RaiseAction();
        }
      });
      widget = button;
      break;
    }
    case Kind::TextField:
      widget = new QLineEdit(parent);
      // A line edit would insert the dragged text; its window takes the drop.
      widget->setAcceptDrops(false);
      break;
    case Kind::Label: {
      auto* label = new QLabel(parent);
      // The text is shown as it stands, never read as markup.
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(LabelAlignment(0));
      widget = label;
      break;
    }
    case Kind::CheckBox:
      widget = new QCheckBox(parent);
      break;
  }
  impl_->widget = widget;
  // Placed before it is shown: Qt sizes a shown widget that was never placed
  // to fit its text, which measures the text for nothing.
  widget->setGeometry(IntOf("Left", 0), IntOf("Top", 0), IntOf("Width", 80), IntOf("Height", 22));
  widget->show();
  // Everything set before the widget existed applies now.
  if (const PropertyValue* v = PropertyValueOf("Name")) SetProperty("Name", *v);
}

void RectControl::SetProperty(const std::string& name, const PropertyValue& value) {
  PropertyObject::SetProperty(name, value);
  QWidget* w = impl_->widget;
  if (!w) return;
  if (name == "Name") {
    w->setObjectName(Q(TextOf("Name", "")));
  } else if (name == "Left" || name == "Top" || name == "Width" || name == "Height") {
    w->setGeometry(IntOf("Left", 0), IntOf("Top", 0), IntOf("Width", 80), IntOf("Height", 22));
  } else if (name == "Enabled") {
    w->setEnabled(BoolOf("Enabled", true));
  } else if (name == "Visible") {
    w->setVisible(BoolOf("Visible", true));
  } else if (name == "HelpTag") {
    w->setToolTip(Q(TextOf("HelpTag", "")));
  } else if (name == "TabStop") {
    w->setFocusPolicy(BoolOf("TabStop", true) ? Qt::StrongFocus : Qt::ClickFocus);
  } else if (name == "Bold" || name == "Italic" || name == "Underline" || name == "TextSize") {
    QFont font = w->font();
    font.setBold(BoolOf("Bold", false));
    font.setItalic(BoolOf("Italic", false));
    font.setUnderline(BoolOf("Underline", false));
    const PropertyValue* size = PropertyValueOf("TextSize");
    if (size && std::holds_alternative<float>(*size) && std::get<float>(*size) > 0) {
      font.setPointSizeF(std::get<float>(*size));
    }
    w->setFont(font);
  } else if (auto* button = qobject_cast<QPushButton*>(w)) {
    if (name == "Caption") button->setText(Q(TextOf("Caption", "")));
    if (name == "Default") button->setDefault(BoolOf("Default", false));
  } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
    if (name == "Text") field->setText(Q(TextOf("Text", "")));
    if (name == "Password")
      field->setEchoMode(BoolOf("Password", false) ? QLineEdit::Password : QLineEdit::Normal);
    if (name == "ReadOnly") field->setReadOnly(BoolOf("ReadOnly", false));
    if (name == "Border") field->setFrame(BoolOf("Border", true));
    if (name == "CueText") field->setPlaceholderText(Q(TextOf("CueText", "")));
    if (name == "LimitText" && IntOf("LimitText", 0) > 0) field->setMaxLength(IntOf("LimitText", 0));
    if (name == "Alignment") field->setAlignment(FieldAlignment(IntOf("Alignment", 0)));
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (name == "Text") label->setText(Q(TextOf("Text", "")));
    if (name == "TextAlign") label->setAlignment(LabelAlignment(IntOf("TextAlign", 0)));
    if (name == "Multiline") label->setWordWrap(BoolOf("Multiline", false));
  } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
    if (name == "Caption") box->setText(Q(TextOf("Caption", "")));
    if (name == "Value") box->setChecked(BoolOf("Value", false));
  }
}

// --- PushButton

PushButton::PushButton() : RectControl(Kind::PushButton) {}

std::string PushButton::Caption() const {
  if (const auto* b = qobject_cast<QPushButton*>(impl().widget.data())) return b->text().toStdString();
  return TextOf("Caption", "");
}

void PushButton::SetCaption(const std::string& caption) { SetProperty("Caption", caption); }

namespace {

// Buttons pushed during the event handler that runs now.
std::vector<QPointer<QWidget>>& PendingPushes() {
  static std::vector<QPointer<QWidget>> pending;
  return pending;
}

}  // namespace

void RunPendingPushes() {
  for (const QPointer<QWidget>& w : std::exchange(PendingPushes(), {})) {
    if (w) QCoreApplication::sendPostedEvents(w, QEvent::MetaCall);
  }
}

void PushButton::Push() {
  if (QWidget* w = impl().widget) {
    QMetaObject::invokeMethod(w, "click", Qt::QueuedConnection);
    PendingPushes().push_back(w);
    return;
  }
  std::weak_ptr<Object> weak = shared_from_this();
  QTimer::singleShot(0, [weak] {
    if (auto self = std::static_pointer_cast<PushButton>(weak.lock())) self->RaiseAction();
  });
}

void PushButton::AddActionHandler(Delegate<void(std::shared_ptr<PushButton>)> handler) {
  actionHandlers_.push_back(std::move(handler));
}

void PushButton::RaiseAction() {
  auto self = std::static_pointer_cast<PushButton>(shared_from_this());
  for (const auto& handler : actionHandlers_) {
    Dispatch([&] { handler(self); });
  }
}

// --- TextField

TextField::TextField() : RectControl(Kind::TextField) {}

std::string TextField::Text() const {
  // A text set here keeps its bytes, those that are not UTF-8 included, which
  // the widget shows replaced; what the user typed is read from the widget.
  const std::string set = TextOf("Text", "");
  if (const auto* f = qobject_cast<QLineEdit*>(impl().widget.data())) {
    if (f->text() != Q(set)) return f->text().toStdString();
  }
  return set;
}

void TextField::SetText(const std::string& text) { SetProperty("Text", text); }

// --- Label

Label::Label() : RectControl(Kind::Label) {}

// The text as set, bytes that are not UTF-8 included; the widget shows them
// replaced.
std::string Label::Text() const { return TextOf("Text", ""); }

void Label::SetText(const std::string& text) { SetProperty("Text", text); }

// --- CheckBox

CheckBox::CheckBox() : RectControl(Kind::CheckBox) {}

std::string CheckBox::Caption() const {
  if (const auto* b = qobject_cast<QCheckBox*>(impl().widget.data())) return b->text().toStdString();
  return TextOf("Caption", "");
}

bool CheckBox::Value() const {
  if (const auto* b = qobject_cast<QCheckBox*>(impl().widget.data())) return b->isChecked();
  return BoolOf("Value", false);
}

void CheckBox::SetValue(bool ticked) { SetProperty("Value", ticked); }
