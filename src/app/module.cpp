#include "app/shell/application.h"
#include "core/jira/month_group.h"

// The only symbol the executable looks up in this module.
extern "C" __attribute__((visibility("default"))) int taskbell_app_main(int argc, char** argv)
{
    // Day and month labels follow LC_ALL, LC_TIME, LANG, as the user's other programs do.
    taskbell::JiraDate::applyDisplayLocale();
    return taskbell::app::runApplication(argc, argv);
}
