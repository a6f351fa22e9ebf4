#include "app/panel/content_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

#include "app/look/look.h"
#include "app/look/spinner.h"
#include "app/look/style_sheets.h"
#include "app/look/widgets.h"
#include "app/model/app_store.h"
#include "app/model/updater.h"
#include "app/panel/activity_group.h"
#include "app/panel/filter_tabs.h"
#include "app/panel/task_list.h"
#include "app/panel/update_banner.h"
#include "core/base/app_info.h"
#include "core/platform/executable.h"

namespace taskbell::app {

namespace {

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, look::withOpacity(look::secondary(palette), 0.4));
    line->setPalette(palette);
    line->setFixedHeight(1);
    return line;
}

} // namespace

ContentView::ContentView(AppStore& store, Updater& updater, QWidget* parent)
    : QWidget(parent), store_(store), updater_(updater)
{
    setObjectName(QStringLiteral("contentView"));
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &ContentView::refresh);
    // The transitions of the rows in view are fetched a moment after they show, not while they are painted,
    // and once where scrolling stops.
    transitionsTimer_.setSingleShot(true);
    transitionsTimer_.setInterval(100);
    connect(&transitionsTimer_, &QTimer::timeout, this, &ContentView::ensureVisibleTransitions);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(divider());
    banner_ = new UpdateBanner(updater_);
    connect(banner_, &UpdateBanner::aboutRequested, this, &ContentView::aboutRequested);
    layout->addWidget(banner_);
    bannerDivider_ = divider();
    layout->addWidget(bannerDivider_);
    auto* activity = new ActivityGroup(store_);
    connect(activity, &ActivityGroup::taskDetailRequested, this, &ContentView::taskDetailRequested);
    layout->addWidget(activity);
    tabs_ = new FilterTabs;
    layout->addWidget(tabs_);

    RowContext context;
    context.store = &store_;
    list_ = new TaskList(store_, context);
    connect(list_, &TaskList::taskDetailRequested, this, &ContentView::taskDetailRequested);
    scroll_ = new QScrollArea;
    scroll_->setWidget(list_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus); // the list is the stop: Tab goes from the tabs to the first row
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(scroll_, 1);
    layout->addWidget(divider());
    layout->addWidget(makeFooter());

    connect(tabs_, &FilterTabs::filterChanged, this, [this](TaskFilter filter) {
        list_->setFilter(filter);
        transitionsTimer_.start();
    });
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, &transitionsTimer_, qOverload<>(&QTimer::start));
    connect(scroll_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (pendingScroll_ >= 0 && pendingScroll_ <= maximum) {
            scroll_->verticalScrollBar()->setValue(std::exchange(pendingScroll_, -1));
        }
    });
    for (auto signal : {&AppStore::tasksChanged, &AppStore::stateChanged, &AppStore::settingsChanged}) {
        connect(&store_, signal, this, &ContentView::scheduleRefresh);
    }
    connect(&store_, &AppStore::stateChanged, list_, &TaskList::updateBusy);
    connect(&store_, &AppStore::settingsChanged, this, &ContentView::considerFirstLoad);
    connect(&updater_, &Updater::changed, this, &ContentView::scheduleRefresh);
    refresh();
}

QWidget* ContentView::makeHeader()
{
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
    layout->addWidget(look::symbolLabel("checklist", look::accent(palette()), 20));
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(look::textLabel(tr("My Jira Tasks"), look::FontRole::Headline));
    userName_ = look::textLabel({}, look::FontRole::Caption, look::secondary(palette()));
    column->addWidget(userName_);
    layout->addLayout(column);
    layout->addStretch(1);
    QColor tint = look::primary(palette());
    add_ = look::symbolButton("plus.circle.fill", look::accent(palette()), 18, tr("Add task"));
    connect(add_, &QToolButton::clicked, this, &ContentView::addTaskRequested);
    refresh_ = look::symbolButton("arrow.clockwise", tint, 16, tr("Refresh"));
    connect(refresh_, &QToolButton::clicked, this, [this] { store_.load(false); });
    refreshBusy_ = new look::Spinner(16);
    auto* settings = look::symbolButton("gearshape", tint, 16, tr("Settings"));
    connect(settings, &QToolButton::clicked, this, &ContentView::settingsRequested);
    layout->addWidget(add_);
    layout->addWidget(refresh_);
    layout->addWidget(refreshBusy_);
    layout->addWidget(settings);
    return header;
}

// Adds a page that takes the list's place, just below it.
void ContentView::addPage(QWidget* page)
{
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->insertWidget(layout->indexOf(scroll_) + 1, page, 1);
}

QWidget* ContentView::makePrompt()
{
    auto* prompt = new QWidget;
    prompt->setObjectName(QStringLiteral("notConfigured"));
    auto* layout = new QVBoxLayout(prompt);
    layout->setSpacing(12);
    layout->addStretch(1);
    QColor secondary = look::secondary(palette());
    layout->addWidget(look::symbolLabel("link.badge.plus", secondary, 45), 0, Qt::AlignHCenter);
    QLabel* title = look::textLabel(tr("Connect to Jira"), look::FontRole::Headline);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    QLabel* text = look::textLabel(tr("Enter your Jira site, email and API token to start tracking your tasks."),
                                   look::FontRole::Caption, secondary);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setContentsMargins(24, 0, 24, 0);
    layout->addWidget(text);
    auto* open = new QPushButton(tr("Open Settings"));
    open->setAccessibleName(open->text());
    open->setDefault(true);
    open->setStyleSheet(look::sheet::accentButton(palette()));
    connect(open, &QPushButton::clicked, this, &ContentView::settingsRequested);
    layout->addWidget(open, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return prompt;
}

// The token is stored but could not be read, or is still being read: saying "not configured" would invite
// typing it again.
QWidget* ContentView::makeKeyringPrompt()
{
    auto* prompt = new QWidget;
    prompt->setObjectName(QStringLiteral("tokenUnreadable"));
    auto* layout = new QVBoxLayout(prompt);
    layout->setSpacing(12);
    layout->addStretch(1);
    layout->addWidget(look::symbolLabel("exclamationmark.triangle.fill", look::orange(), 45), 0, Qt::AlignHCenter);
    keyringText_ = look::textLabel({}, look::FontRole::Caption, look::secondary(palette()));
    keyringText_->setWordWrap(true);
    keyringText_->setAlignment(Qt::AlignCenter);
    keyringText_->setContentsMargins(24, 0, 24, 0);
    layout->addWidget(keyringText_);
    retryToken_ = new QPushButton(tr("Try Again"));
    retryToken_->setObjectName(QStringLiteral("retryToken"));
    retryToken_->setAccessibleName(retryToken_->text());
    retryToken_->setDefault(true);
    connect(retryToken_, &QPushButton::clicked, this, [this] { store_.retryToken(); });
    layout->addWidget(retryToken_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return prompt;
}

QWidget* ContentView::makeFooter()
{
    auto* footer = new QWidget;
    auto* layout = new QHBoxLayout(footer);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(10);
    QColor secondary = look::secondary(palette());
    QToolButton* version = look::plainButton(QStringLiteral("v") + QString::fromStdString(platform::runningVersion()),
                                             look::FontRole::Caption2, secondary);
    look::setHelpText(version, tr("About & changelog"));
    connect(version, &QToolButton::clicked, this, &ContentView::aboutRequested);
    counts_ = look::textLabel({}, look::FontRole::Caption2, secondary);
    QToolButton* quit = look::plainButton(tr("Quit"), look::FontRole::Caption, secondary);
    connect(quit, &QToolButton::clicked, this, &ContentView::quitRequested);
    layout->addWidget(version);
    layout->addWidget(counts_);
    layout->addStretch(1);
    layout->addWidget(quit);
    return footer;
}

// Changes that come together are shown by one refresh; a refresh made in the meantime takes their place.
void ContentView::scheduleRefresh()
{
    if (!refreshTimer_.isActive()) {
        refreshTimer_.start();
    }
}

void ContentView::refresh()
{
    refreshTimer_.stop();
    bool configured = store_.config().isComplete();
    const auto& user = store_.currentUser();
    QString name = user && user->displayName ? QString::fromStdString(*user->displayName) : QString();
    userName_->setText(name);
    userName_->setVisible(!name.isEmpty());
    add_->setVisible(configured);
    refresh_->setVisible(configured && !store_.isLoading());
    refresh_->setEnabled(!store_.isLoading());
    refreshBusy_->setVisible(configured && store_.isLoading());

    bool offer = updater_.hasVisibleOffer();
    if (offer) {
        banner_->refresh();
    }
    banner_->setVisible(offer);
    bannerDivider_->setVisible(offer);

    const AppSettings& settings = store_.settings();
    bool unreadable = !configured && store_.tokenUnreadable() && !settings.baseURL.empty() && !settings.email.empty();
    bool pending = !configured && store_.isTokenPending();
    tabs_->setVisible(configured);
    scroll_->setVisible(configured);
    // The prompts are made when first shown: a configured panel never needs them.
    bool showPrompt = !configured && !unreadable && !pending;
    if (showPrompt && prompt_ == nullptr) {
        prompt_ = makePrompt();
        addPage(prompt_);
    }
    if (prompt_ != nullptr) {
        prompt_->setVisible(showPrompt);
    }
    if ((unreadable || pending) && keyringPrompt_ == nullptr) {
        keyringPrompt_ = makeKeyringPrompt();
        addPage(keyringPrompt_);
    }
    if (keyringPrompt_ != nullptr) {
        keyringPrompt_->setVisible(unreadable || pending);
        keyringText_->setText(pending ? tr("Reading your API token from the keyring…")
                                      : tr("Taskbell couldn't read your API token from the keyring."));
        retryToken_->setVisible(!pending);
        retryToken_->setEnabled(!store_.isReadingToken());
    }
    counts_->setVisible(configured);
    if (configured) {
        std::size_t backlog = store_.backlog().size();
        std::size_t inProgress = store_.inProgress().size();
        std::size_t done = store_.done().size();
        tabs_->setCounts(backlog, inProgress, done);
        counts_->setText(
            QStringLiteral("%1 backlog \u00B7 %2 active \u00B7 %3 done").arg(backlog).arg(inProgress).arg(done));
        list_->rebuild();
        transitionsTimer_.start();
    }
}

TaskFilter ContentView::filter() const
{
    return tabs_->filter();
}

ContentView::State ContentView::state() const
{
    return {filter(), scroll_->verticalScrollBar()->value(), hasLoaded_};
}

void ContentView::restore(const State& state)
{
    hasLoaded_ = state.loaded;
    tabs_->setFilter(state.filter);
    list_->setFilter(state.filter);
    QScrollBar* bar = scroll_->verticalScrollBar();
    if (state.scroll <= bar->maximum()) {
        bar->setValue(state.scroll);
    } else {
        pendingScroll_ = state.scroll;
    }
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    considerFirstLoad();
    transitionsTimer_.start();
}

// Considered once per view, even unconfigured: completing the settings later loads from there. A token
// still being read when the panel first shows is waited for.
void ContentView::considerFirstLoad()
{
    if (hasLoaded_ || !isVisible() || store_.isTokenPending()) {
        return;
    }
    hasLoaded_ = true;
    if (!store_.config().isComplete()) {
        return;
    }
    // Issues of an earlier load are in the first frame, and the reload starts just after it, so that the two do
    // not compete; a site never loaded shows "Loading…" in that frame.
    if (store_.currentUser() && !list_->isPainted()) {
        connect(
            list_, &TaskList::firstPainted, this, [this] { store_.load(false); }, Qt::SingleShotConnection);
        return;
    }
    store_.load(false);
}

void ContentView::ensureVisibleTransitions()
{
    if (!isVisible() || !scroll_->isVisible()) {
        return;
    }
    QRect visible(QPoint(0, scroll_->verticalScrollBar()->value()), scroll_->viewport()->size());
    list_->ensureTransitions(visible);
}

} // namespace taskbell::app
