#include "app/shell/application.h"

#include <QApplication>

namespace taskbell::app {

int runApplication(int argc, char** argv)
{
    QApplication application(argc, argv);
    return 0;
}

} // namespace taskbell::app
