#pragma once

#include <QDialog>
#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace velutron {

// An up-down spinner: two arrow buttons that step a position within a range, optionally showing it in
// an associated read-only edit (whose up and down keys step it too).
class TUpDown final : public QWidget {
  Q_OBJECT

 public:
  explicit TUpDown(QWidget* parent);

  void SetRange(int minimum, int maximum);
  // Sets the position (kept inside the range) as the program does: not the user's move.
  void SetPosition(int position);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  int Position() const { return position_; }
  // Whether the user has moved the position since it was last set.
  bool Touched() const { return touched_; }
  void Associate(QLineEdit* edit);
  // One click of an arrow: +1 up, -1 down.
  void Step(int direction);

  QToolButton* UpButton = nullptr;
  QToolButton* DownButton = nullptr;

 signals:
  // After every click of an arrow, with the position it left.
  void Clicked(int position);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowPosition();

  QLineEdit* edit_ = nullptr;
  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
  bool touched_ = false;
};

// The common frame of the settings dialogs: a fixed dialog box of a client size, centred on the screen.
void MakeFixedDialog(QDialog& dialog, const char* objectName, int width, int height);
// Widens a fixed dialog, once its title and controls are in place, to show the whole title in the window
// manager's title bar; its controls stay centred. Never narrower than the size it was made with.
void FitToTitle(QDialog& dialog);
QFrame* MakeBevel(QWidget* parent, const QRect& geometry);
QLabel* MakeLabel(QWidget* parent, const QPoint& at, const QString& text, const QFont& font,
                  const QColor& colour);
// A read-only edit with the no-entry cursor.
QLineEdit* MakeReadOnlyEdit(QWidget* parent, const QRect& geometry, const QFont& font, const QColor& colour);
QPushButton* MakeDialogButton(QWidget* parent, const QString& caption, const QRect& geometry,
                              const QColor& colour);
// The classic face is narrow; a wider stand-in is condensed until `text` fits `room` pixels.
void CondenseToFit(QWidget* widget, const QString& text, int room);

}  // namespace velutron
