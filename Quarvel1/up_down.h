// The up-down spinner attached to an edit. Qt has no stand-alone spin arrows, and QSpinBox owns
// its own edit, while the panel's edits are separate controls that the telegram reads.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// Two small arrow buttons beside an edit (the "associate"). A press on an arrow, or the Up or
// Down key while the edit has the focus, moves the position by one within [Min, Max] and writes
// it into the edit as a plain decimal integer. Without Wrap the position stops at the ends; with
// Wrap one step past an end lands on the other end. Before a step the position is taken from
// the edit when the edit holds a whole decimal number within the range; any other text (empty,
// decimals, letters, out of range) is ignored and the step starts from the spinner's own position.
// The spinner and its arrows never take the keyboard focus. UI thread only.
class TUpDown : public QWidget {
    Q_OBJECT

  public:
    explicit TUpDown(QWidget* parent = nullptr);

    // Attaches the spinner to `edit` (nullptr detaches): its keys and text are ours from now on.
    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const { return associate_; }

    // Sets the range; the position is clamped into it.
    void setRange(int min, int max);
    int min() const { return min_; }
    int max() const { return max_; }

    void setWrap(bool wrap) { wrap_ = wrap; }
    bool wrap() const { return wrap_; }

    // Sets the position (clamped into the range) without touching the edit.
    void setPosition(int position);
    int position() const { return position_; }

    // One step: +1 for up, -1 for down. Writes the new position into the edit when it changed.
    void step(int direction);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void take_position_from_edit();

    QLineEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    bool wrap_ = false;
};
