#pragma once

#include <QPoint>
#include <QString>
#include <Qt>

class QWidget;

// Input as a user's would arrive: every event goes to the top-level window
// that shows the widget and takes Qt's whole path from there (the window
// finds the widget under the point or with the focus, mouse grabs, popups,
// context menus, shortcuts), through the toolkit's event routing and window
// procedures. Each call returns once the events were delivered.

// A press and release of `button` at `point` (widget coordinates). A right
// click opens the widget's context menu as a real one does.
void ClickWidget(QWidget* widget, QPoint point, Qt::MouseButton button);
// One key press and release for each character of `text`, to whatever has
// the focus in the widget's window.
void TypeIntoWindow(QWidget* widget, const QString& text);
// A press and release of `key` with `modifiers`, to whatever has the focus
// in the widget's window.
void PressKeyInWindow(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers);
