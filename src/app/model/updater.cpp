#include "app/model/updater.h"

#include <QThreadPool>
#include <QTimer>

namespace taskbell::app {

UpdaterEnvironment UpdaterEnvironment::standard()
{
    return {};
}

Updater::Updater(UpdaterEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), pool_(new QThreadPool(this)),
      cancel_(std::make_shared<std::atomic<bool>>(false))
{
}

Updater::~Updater()
{
    cancel_->store(true);
}

bool Updater::isArmed() const
{
    return false;
}

bool Updater::hasVisibleOffer() const
{
    return false;
}

void Updater::start(const QString&, bool) {}
void Updater::check(const QString&, bool, std::function<void()>) {}
void Updater::dismiss() {}
void Updater::install(std::function<void()>) {}

} // namespace taskbell::app
