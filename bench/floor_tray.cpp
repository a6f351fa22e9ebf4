// The floor of a Qt 6 tray program: QApplication and one QSystemTrayIcon, nothing else. The tray start-up
// bench runs it beside the application to show what any Qt tray program costs on the same machine.

#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkCyan);
    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.show();
    return QApplication::exec();
}
