#include "Quarvel1/up_down.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <string>

namespace {

QToolButton* make_arrow(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
    return button;
}

// A whole decimal number, optionally signed and surrounded by blanks; nothing else.
bool parse_whole_number(const QString& text, int& value) {
    const std::string bytes = text.trimmed().toStdString();
    const char* first = bytes.data();
    const char* last = first + bytes.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && first != last;
}

}  // namespace

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), up_(make_arrow(this, Qt::UpArrow)), down_(make_arrow(this, Qt::DownArrow)) {
    setFocusPolicy(Qt::NoFocus);
    connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void TUpDown::setAssociate(QLineEdit* edit) {
    if (associate_ != nullptr) {
        associate_->removeEventFilter(this);
    }
    associate_ = edit;
    if (associate_ != nullptr) {
        associate_->installEventFilter(this);
    }
}

void TUpDown::setRange(int min, int max) {
    min_ = std::min(min, max);
    max_ = std::max(min, max);
    position_ = std::clamp(position_, min_, max_);
}

void TUpDown::setPosition(int position) {
    position_ = std::clamp(position, min_, max_);
}

void TUpDown::take_position_from_edit() {
    int typed = 0;
    if (associate_ != nullptr && parse_whole_number(associate_->text(), typed) && typed >= min_ &&
        typed <= max_) {
        position_ = typed;
    }
}

void TUpDown::step(int direction) {
    take_position_from_edit();
    const int old_position = position_;
    // Widened so that a step past INT_MAX cannot overflow.
    const long long next = static_cast<long long>(position_) + (direction > 0 ? 1 : -1);
    if (next > max_) {
        position_ = wrap_ ? min_ : max_;
    } else if (next < min_) {
        position_ = wrap_ ? max_ : min_;
    } else {
        position_ = static_cast<int>(next);
    }
    if (associate_ != nullptr && position_ != old_position) {
        associate_->setText(QString::number(position_));
    }
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == associate_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent* event) {
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
    QWidget::resizeEvent(event);
}
