// The program's start: the application object, the main window layout with
// its delegate and controller, and the main loop.
#pragma once

#include <QMainWindow>

#include <memory>

class AppDelegate;
class Controller;
namespace Ui {
class DeviceListWindow;
}

// What loading the main window layout makes, connected. The window owns the
// delegate and the controller.
struct MainWindowLayout
{
    MainWindowLayout();
    ~MainWindowLayout();

    std::unique_ptr<QMainWindow> window;
    std::unique_ptr<Ui::DeviceListWindow> ui;
    AppDelegate *delegate = nullptr;
    Controller *controller = nullptr;
};

// Main thread, with a QApplication. Creates the window from its layout, the
// delegate and the controller, connects them and calls awakeFromNib on both
// (the controller's starts the search); the window is not shown yet. With
// `allMakes`, devices of every make are listed (Controller::setAllMakes).
std::unique_ptr<MainWindowLayout> loadMainWindowLayout(bool allMakes = false);

// The whole program: options, the layout, the launch and the main loop; its
// exit status. Closing the window ends the process with status 1 instead.
int applicationMain(int argc, char **argv);
