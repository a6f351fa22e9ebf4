#include "app/shell/application.h"

// The only symbol the executable looks up in this module.
extern "C" __attribute__((visibility("default"))) int taskbell_app_main(int argc, char** argv)
{
    return taskbell::app::runApplication(argc, argv);
}
