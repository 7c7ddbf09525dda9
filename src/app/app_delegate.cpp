#include "app_delegate.h"

#include <QColor>
#include <QPalette>
#include <QWidget>

void AppDelegate::awakeFromNib()
{
    if (_window) {
        // 0.33, 0.41, 0.54 in single precision: 84, 105, 138 on a 0-255 scale.
        QPalette palette = _window->palette();
        palette.setColor(QPalette::Window, QColor::fromRgbF(0.33f, 0.41f, 0.54f, 1.0f));
        // The labels stand on that background: white reads on it, black hardly.
        palette.setColor(QPalette::WindowText, Qt::white);
        _window->setPalette(palette);
    }
    qInfo("application awakeFromNib........");
}

void AppDelegate::applicationDidFinishLaunching()
{
    qInfo("applicationDidFinishLaunching........");
}
