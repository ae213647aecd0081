#pragma once

#include <QPoint>
#include <QString>
#include <Qt>

class QWidget;

// Input as a user's would arrive: every event goes to the top-level window
// that shows the widget and takes Qt's whole path from there (the window
// finds the widget under the point or with the focus, mouse grabs, popups,
// context menus, shortcuts), through the toolkit's event routing and window
// procedures. Each call returns once the events were delivered. The events
// enter Qt where a platform plug-in's would (QtGui's qt_handleMouseEvent and
// qt_handleKeyEvent, which Qt's own test library uses too; declared in
// qt_input_entry_points.h), so that the host needs no test library.

// A press and release of `button` at `point` (widget coordinates). A right
// click opens the widget's context menu as a real one does.
void ClickWidget(QWidget* widget, QPoint point, Qt::MouseButton button);
// One key press and release for each character of `text`, to whatever has
// the focus in the widget's window.
void TypeIntoWindow(QWidget* widget, const QString& text);
// A press and release of `key` with `modifiers`, to whatever has the focus
// in the widget's window.
void PressKeyInWindow(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers);

// The key that types ASCII character `c` (Key_A for 'a' and 'A', Key_Return
// for '\r', ...), or 0 when no key does (outside ASCII, most control
// characters).
Qt::Key KeyOfCharacter(char32_t c);
// The text a key press of `key` carries ("a" for Key_A, "\r" for Key_Return),
// empty for keys that type nothing (arrows, modifiers).
QString TextOfKey(Qt::Key key);
