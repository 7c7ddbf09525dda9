// The application's delegate: gives the main window its background colour
// and marks the two steps of start-up on the console. Main thread only.
#pragma once

#include <QObject>

class QWidget;

class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The main window, set by the layout; not owned.
    QWidget *window() const { return _window; }
    void setWindow(QWidget *window) { _window = window; }

    // The layout is connected: colours the window, then logs
    // "application awakeFromNib........".
    void awakeFromNib();
    // Logs "applicationDidFinishLaunching........".
    void applicationDidFinishLaunching();

private:
    QWidget *_window = nullptr;
};
