#include "app/windows/settings_view.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSpinBox>
#include <QUrl>

#include "app/look/error_banner.h"
#include "app/look/spinner.h"
#include "app/look/style_sheets.h"
#include "app/look/window_sizes.h"
#include "app/model/app_store.h"
#include "app/model/text.h"
#include "app/model/updater.h"
#include "app/windows/form_parts.h"
#include "app/windows/mcp_section.h"
#include "core/platform/login_item.h"
#include "core/settings/app_settings.h"

namespace taskbell::app {

namespace {

const QString kTokenPage = QStringLiteral("https://id.atlassian.com/manage-profile/security/api-tokens");
const QString kTeam = QStringLiteral("7QK4ZR2W9M");

QLineEdit* lineEdit(const QString& objectName, const QString& placeholder, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setPlaceholderText(placeholder);
    return edit;
}

QHBoxLayout* labelledRow(const QString& text, QWidget* control, QWidget* parent, QBoxLayout* into)
{
    auto* row = new QHBoxLayout;
    QLabel* label = form::label(text, look::FontRole::Callout, false, parent);
    label->setBuddy(control);
    control->setAccessibleName(text);
    row->addWidget(label);
    row->addWidget(control);
    row->addStretch(1);
    into->addLayout(row);
    return row;
}

QWidget* group(QWidget* parent, int spacing, QVBoxLayout*& column)
{
    auto* box = new QWidget(parent);
    column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return box;
}

} // namespace

SettingsView::SettingsView(AppStore& store, Updater& updater, QWidget* parent)
    : FormDialog("settingsView", parent), store_(store), updater_(updater)
{
    setFixedSize(windowSize::settings);
    auto* buttons = new QDialogButtonBox(this);
    addButton(buttons, tr("Cancel"), QDialogButtonBox::RejectRole, "settingsCancel");
    addButton(buttons, tr("Done"), QDialogButtonBox::AcceptRole, "settingsDone")->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsView::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    saveError_ = new ErrorBanner(this);
    auto* bannerBox = new QWidget(this);
    auto* bannerLayout = new QVBoxLayout(bannerBox);
    bannerLayout->setContentsMargins(12, 8, 12, 0);
    bannerLayout->addWidget(saveError_);
    bannerBox->hide();
    column->addWidget(bannerBox);

    auto* area = new QScrollArea(this);
    QBoxLayout* groups = form::scrollingColumn(area, 14, 12);
    QWidget* content = area->widget();
    groups->addWidget(makeConnectionGroup(content));
    groups->addWidget(form::divider(content));
    groups->addWidget(makeDefaultsGroup(content));
    groups->addWidget(form::divider(content));
    groups->addWidget(makeTestRow(content));
    groups->addWidget(form::divider(content));
    groups->addWidget(makeUpdatesGroup(content));
    groups->addWidget(form::divider(content));
    mcp_ = new McpSection(content);
    mcp_->setObjectName("mcpSection");
    groups->addWidget(mcp_);
    groups->addStretch(1);
    column->addWidget(area, 1);
    setParts(titleBar(headline(tr("Settings")), buttons), body);

    for (QLineEdit* edit : {baseURL_, email_, apiToken_}) {
        connect(edit, &QLineEdit::textChanged, this, &SettingsView::updateTestRow);
    }
    connect(feedURL_, &QLineEdit::textChanged, this, &SettingsView::updateUpdatesGroup);
    connect(&updater_, &Updater::changed, this, &SettingsView::updateUpdatesGroup);
    loadCurrent();
}

QString SettingsView::monthsSuffix(int months)
{
    return months == 1 ? tr(" month") : tr(" months");
}

const std::vector<std::pair<QString, int>>& SettingsView::refreshChoices()
{
    static const std::vector<std::pair<QString, int>> choices = {{tr("Off"), 0},           {tr("Every 5 min"), 5},
                                                                 {tr("Every 10 min"), 10}, {tr("Every 15 min"), 15},
                                                                 {tr("Every 30 min"), 30}, {tr("Every hour"), 60}};
    return choices;
}

QWidget* SettingsView::makeConnectionGroup(QWidget* parent)
{
    QVBoxLayout* column = nullptr;
    QWidget* box = group(parent, 14, column);
    baseURL_ = lineEdit("baseURL", "https://your-team.atlassian.net", box);
    column->addWidget(form::titled(tr("Jira site URL"), baseURL_, box));
    email_ = lineEdit("email", tr("you@example.com"), box);
    column->addWidget(form::titled(tr("Email"), email_, box));
    apiToken_ = lineEdit("apiToken", tr("Paste your Atlassian API token"), box);
    apiToken_->setEchoMode(QLineEdit::Password);
    column->addWidget(form::titled(tr("API token"), apiToken_, box));

    tokenLink_ = new QPushButton(tr("Create an API token ↗"), box);
    tokenLink_->setObjectName("tokenLink");
    tokenLink_->setFlat(true);
    tokenLink_->setCursor(Qt::PointingHandCursor);
    tokenLink_->setFont(look::font(look::FontRole::Caption));
    tokenLink_->setStyleSheet(look::sheet::linkButton(palette()));
    form::describe(tokenLink_, tokenLink_->text(), kTokenPage);
    connect(tokenLink_, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(kTokenPage)); });
    column->addWidget(tokenLink_, 0, Qt::AlignLeading);
    return box;
}

QWidget* SettingsView::makeDefaultsGroup(QWidget* parent)
{
    QVBoxLayout* column = nullptr;
    QWidget* box = group(parent, 14, column);
    projectKey_ = lineEdit("defaultProjectKey", tr("e.g. QLT"), box);
    column->addWidget(form::titled(tr("Default project key"), projectKey_, box));
    defaultIssueType_ = lineEdit("defaultIssueType", tr("Task"), box);
    column->addWidget(form::titled(tr("Default issue type"), defaultIssueType_, box));

    monthsBack_ = new QSpinBox(box);
    monthsBack_->setObjectName("monthsBack");
    monthsBack_->setRange(1, 12);
    monthsBack_->setSingleStep(1);
    // The interface fonts (DejaVu Sans, Cantarell, Noto Sans) already draw digits at one width.
    monthsBack_->setFont(look::font(look::FontRole::Callout));
    connect(monthsBack_, &QSpinBox::valueChanged, this,
            [this](int value) { monthsBack_->setSuffix(monthsSuffix(value)); });
    labelledRow(tr("Show Done from the last"), monthsBack_, box, column);

    refreshMinutes_ = new QComboBox(box);
    refreshMinutes_->setObjectName("refreshMinutes");
    refreshMinutes_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const auto& [title, minutes] : refreshChoices()) {
        refreshMinutes_->addItem(title, minutes);
    }
    labelledRow(tr("Auto-refresh"), refreshMinutes_, box, column);

    launchAtLogin_ = new QCheckBox(tr("Launch at login"), box);
    launchAtLogin_->setObjectName("launchAtLogin");
    launchAtLogin_->setAccessibleName(tr("Launch at login"));
    // `toggled`, not `clicked`, so that a Toggle action of assistive technology applies it as well.
    connect(launchAtLogin_, &QCheckBox::toggled, this, &SettingsView::applyLaunchAtLogin);
    column->addWidget(launchAtLogin_);

    notifyAssistantChanges_ = new QCheckBox(tr("Notify me about changes made by assistants"), box);
    notifyAssistantChanges_->setObjectName("notifyAssistantChanges");
    notifyAssistantChanges_->setAccessibleName(notifyAssistantChanges_->text());
    column->addWidget(notifyAssistantChanges_);
    return box;
}

QWidget* SettingsView::makeTestRow(QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    test_ = new QPushButton(tr("Test connection"), box);
    test_->setObjectName("testConnection");
    form::describe(test_, tr("Test connection"));
    connect(test_, &QPushButton::clicked, this, &SettingsView::runTest);
    row->addWidget(test_);
    testSpinner_ = new look::Spinner(12, box);
    testSpinner_->setObjectName("testSpinner");
    testSpinner_->hide();
    row->addWidget(testSpinner_);
    testResult_ = form::wrappingLabel({}, look::FontRole::Caption, false, box);
    testResult_->setObjectName("testResult");
    form::makeSelectable(testResult_);
    row->addWidget(testResult_, 1);
    row->addStretch(0); // the button keeps its natural width while no result shows
    return box;
}

QWidget* SettingsView::makeUpdatesGroup(QWidget* parent)
{
    QVBoxLayout* column = nullptr;
    QWidget* box = group(parent, 8, column);
    column->addWidget(form::label(tr("Updates"), look::FontRole::Caption, true, box));
    autoUpdate_ = new QCheckBox(tr("Check for updates automatically"), box);
    autoUpdate_->setObjectName("autoUpdate");
    autoUpdate_->setAccessibleName(autoUpdate_->text());
    column->addWidget(autoUpdate_);
    feedURL_ = lineEdit("feedURL", qs(kDefaultUpdateFeedURL), box);
    column->addWidget(form::titled(tr("Feed URL"), feedURL_, box));

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    checkNow_ = new QPushButton(tr("Check now"), box);
    checkNow_->setObjectName("checkNow");
    connect(checkNow_, &QPushButton::clicked, this, &SettingsView::checkNow);
    row->addWidget(checkNow_);
    updateStatus_ = form::wrappingLabel({}, look::FontRole::Caption, false, box);
    updateStatus_->setObjectName("updateStatus");
    row->addWidget(updateStatus_, 1);
    row->addStretch(0);
    column->addLayout(row);

    updateError_ = form::wrappingLabel({}, look::FontRole::Caption2, false, box);
    updateError_->setObjectName("updateError");
    look::setTextColour(updateError_, look::red());
    form::makeSelectable(updateError_);
    column->addWidget(updateError_);
    column->addWidget(form::wrappingLabel(tr("Downloads are only installed if their checksum matches the feed and "
                                             "the bundle is signed by team %1.")
                                              .arg(kTeam),
                                          look::FontRole::Caption2, true, box));
    return box;
}

void SettingsView::showEvent(QShowEvent* event)
{
    FormDialog::showEvent(event);
    // A window coming back from being minimised keeps what was typed; a window shown anew starts over.
    if (!event->spontaneous()) {
        loadCurrent();
    }
    // Keys reach this view through a focused child, so the window never opens without one.
    if (!focusWidget()) {
        baseURL_->setFocus();
    }
}

void SettingsView::loadCurrent()
{
    fill(store_.settings());
    // A token that could not be read shows empty, and is written only when the user types one.
    apiToken_->setText(store_.apiToken());
    apiToken_->setModified(false);
    {
        const QSignalBlocker quiet(launchAtLogin_);
        launchAtLogin_->setChecked(LoginItem::isRegistered());
    }
    testResultText_.reset();
    showSaveError(std::nullopt);
    updateTestRow();
    updateUpdatesGroup();
}

void SettingsView::fill(const AppSettings& settings)
{
    auto qs = [](const std::string& value) { return QString::fromStdString(value); };
    baseURL_->setText(qs(settings.baseURL));
    email_->setText(qs(settings.email));
    projectKey_->setText(qs(settings.projectKey));
    defaultIssueType_->setText(qs(settings.defaultIssueType));
    monthsBack_->setValue(settings.monthsBack);
    monthsBack_->setSuffix(monthsSuffix(monthsBack_->value()));
    const int choice = refreshMinutes_->findData(settings.refreshMinutes);
    if (choice >= 0) {
        refreshMinutes_->setCurrentIndex(choice);
    } else {
        // A value set by hand outside the offered ones stays as it is until the user picks another.
        refreshMinutes_->setCurrentIndex(-1);
        refreshMinutes_->setPlaceholderText(tr("Every %1 min").arg(settings.refreshMinutes));
    }
    notifyAssistantChanges_->setChecked(settings.notifyAssistantChanges);
    autoUpdate_->setChecked(settings.autoUpdate);
    feedURL_->setText(qs(settings.updateFeedURL));
}

AppSettings SettingsView::read() const
{
    AppSettings settings = store_.settings();
    settings.baseURL = baseURL_->text().toStdString();
    settings.email = email_->text().toStdString();
    settings.projectKey = projectKey_->text().toStdString();
    settings.defaultIssueType = defaultIssueType_->text().isEmpty() ? "Task" : defaultIssueType_->text().toStdString();
    settings.monthsBack = monthsBack_->value();
    if (refreshMinutes_->currentIndex() >= 0) {
        settings.refreshMinutes = refreshMinutes_->currentData().toInt();
    }
    settings.notifyAssistantChanges = notifyAssistantChanges_->isChecked();
    settings.autoUpdate = autoUpdate_->isChecked();
    settings.updateFeedURL = feedURL_->text().toStdString();
    return settings;
}

void SettingsView::save()
{
    std::optional<QString> token;
    if (apiToken_->isModified()) {
        token = apiToken_->text();
    }
    if (!store_.saveSettings(read(), token)) {
        showSaveError(store_.saveError().value_or(tr("The settings could not be saved.")));
        return;
    }
    apiToken_->setModified(false);
    updater_.start(feedURL_->text(), autoUpdate_->isChecked());
    accept();
    store_.load(false);
}

void SettingsView::runTest()
{
    if (testing_) {
        return;
    }
    testing_ = true;
    testResultText_.reset();
    updateTestRow();
    // The form's credentials as typed: testing never touches or saves the shared settings.
    JiraConfig typed{baseURL_->text().toStdString(), email_->text().toStdString(), apiToken_->text().toStdString()};
    store_.testConnection(typed, this, [this](QString result) {
        testResultText_ = result;
        testing_ = false;
        updateTestRow();
    });
}

void SettingsView::applyLaunchAtLogin(bool enabled)
{
    if (!LoginItem::setEnabled(enabled)) {
        const QSignalBlocker quiet(launchAtLogin_);
        launchAtLogin_->setChecked(LoginItem::isRegistered());
    }
}

void SettingsView::checkNow()
{
    updater_.check(feedURL_->text(), true);
}

void SettingsView::updateTestRow()
{
    test_->setVisible(!testing_);
    testSpinner_->setVisible(testing_);
    test_->setEnabled(!testing_ && !baseURL_->text().isEmpty() && !email_->text().isEmpty() &&
                      !apiToken_->text().isEmpty());
    testResult_->setVisible(testResultText_.has_value());
    testResult_->setText(testResultText_.value_or(QString()));
    const bool connected = testResultText_ && testResultText_->startsWith("Connected");
    look::setTextColour(testResult_, connected ? look::green() : look::orange());
}

void SettingsView::updateUpdatesGroup()
{
    const bool checking = updater_.isChecking();
    const QString title = checking ? tr("Checking…") : tr("Check now");
    checkNow_->setText(title);
    form::describe(checkNow_, title);
    checkNow_->setEnabled(!checking && !feedURL_->text().isEmpty());

    if (const auto& offer = updater_.available()) {
        updateStatus_->setText("v" + QString::fromStdString(offer->version) + " available");
        look::setTextColour(updateStatus_, look::green());
    } else if (const auto& status = updater_.status()) {
        updateStatus_->setText(*status);
        look::setTextColour(updateStatus_, look::secondary(palette()));
    } else {
        updateStatus_->clear();
    }
    updateStatus_->setVisible(!updateStatus_->text().isEmpty());
    updateError_->setText(updater_.errorMessage().value_or(QString()));
    updateError_->setVisible(updater_.errorMessage().has_value());
}

void SettingsView::showSaveError(const std::optional<QString>& message)
{
    saveError_->setMessage(message.value_or(QString()));
    saveError_->parentWidget()->setVisible(message.has_value());
}

} // namespace taskbell::app
