#pragma once

#include <QtGui/qtguiglobal.h>
#include <QEvent>
#include <QPointF>
#include <QString>

class QWindow;

// QtGui's entry points for input that a platform plug-in would report: each
// event goes through QWindowSystemInterface, synchronously, as a window
// system's does. QtGui exports them for this use (Qt's test library calls
// them) but declares them in no public header, so they are declared here, and
// only here: the build's configure step compiles and links a call of each
// against the installed Qt (host/CMakeLists.txt), so a Qt without them, or
// with other signatures, stops the build with an error naming them.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                      Qt::MouseButtons state, Qt::MouseButton button,
                                      QEvent::Type type, Qt::KeyboardModifiers mods, int timestamp);
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* window, QEvent::Type type, int key,
                                    Qt::KeyboardModifiers mods, const QString& text, bool autorep,
                                    ushort count);
