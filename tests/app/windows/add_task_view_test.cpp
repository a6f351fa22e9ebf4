#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/app_fixture.h"
#include "app/look/error_banner.h"
#include "app/look/segmented_control.h"
#include "app/windows/add_task_view.h"

using namespace taskbell;
using namespace taskbell::app;

namespace {

struct Form
{
    QLineEdit* projectKey;
    QLineEdit* summary;
    QPlainTextEdit* description;
    QLineEdit* issueType;
    SegmentedControl* target;
    QCheckBox* assignToMe;
    QPushButton* create;
    ErrorBanner* banner;

    explicit Form(QWidget* view)
        : projectKey(view->findChild<QLineEdit*>("projectKey")), summary(view->findChild<QLineEdit*>("summary")),
          description(view->findChild<QPlainTextEdit*>("description")),
          issueType(view->findChild<QLineEdit*>("issueType")), target(view->findChild<SegmentedControl*>("target")),
          assignToMe(view->findChild<QCheckBox*>("assignToMe")), create(view->findChild<QPushButton*>("createTask")),
          banner(view->findChild<ErrorBanner*>("errorBanner"))
    {
    }
};

} // namespace

class AddTaskViewTest : public QObject
{
    Q_OBJECT

private slots:
    void canSubmitNeedsProjectAndSummary();
    void opensWithTheConfiguredDefaults();
    void returnCreatesOnlyWhenEnabledAndEscapeCancels();
    void failedCreateKeepsFieldsAndShowsTheStoreMessage();
    void emptyIssueTypeCreatesATask();
    void fieldsAreNamedAndTabbedInVisualOrder();
};

void AddTaskViewTest::canSubmitNeedsProjectAndSummary()
{
    struct Case
    {
        const char* projectKey;
        const char* summary;
        bool canSubmit;
    };
    const Case cases[] = {
        {"TB", "Write the report", true},
        {"TB", "  Write the report\t", true},
        {"TB", "", false},
        {"TB", "   ", false},
        {"TB", "\t \t", false},
        {"", "Write the report", false},
        {"  ", "Write the report", false},
        {" TB ", " x ", true},
    };
    test::AppFixture fixture;
    AddTaskView view(*fixture.store);
    Form form(&view);
    for (const Case& c : cases) {
        form.projectKey->setText(c.projectKey);
        form.summary->setText(c.summary);
        QCOMPARE(view.canSubmit(), c.canSubmit);
        QCOMPARE(form.create->isEnabled(), c.canSubmit);
    }
}

void AddTaskViewTest::opensWithTheConfiguredDefaults()
{
    test::AppFixture fixture;
    AppSettings values = fixture.store->settings();
    values.defaultIssueType = "Bug";
    QVERIFY(fixture.store->saveSettings(values, std::nullopt));
    AddTaskView view(*fixture.store);
    view.show();
    Form form(&view);
    QCOMPARE(form.projectKey->text(), QString("TB"));
    QCOMPARE(form.issueType->text(), QString("Bug"));
    QCOMPARE(form.target->current(), 1);
    QVERIFY(form.target->segment(1)->isChecked());
    QVERIFY(form.assignToMe->isChecked());
    QVERIFY(!form.banner->isVisible());
    QVERIFY(!form.create->isEnabled()); // no summary yet

    // No configured key: the field stays empty (placeholder shown) and so does the button's state.
    values.projectKey = "";
    QVERIFY(fixture.store->saveSettings(values, std::nullopt));
    AddTaskView empty(*fixture.store);
    empty.show();
    Form emptyForm(&empty);
    QCOMPARE(emptyForm.projectKey->text(), QString());
    emptyForm.summary->setText("Something");
    QVERIFY(!emptyForm.create->isEnabled());
}

void AddTaskViewTest::returnCreatesOnlyWhenEnabledAndEscapeCancels()
{
    test::AppFixture fixture;
    int closed = 0;
    AddTaskView view(*fixture.store);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    Form form(&view);

    // Disabled: Return does nothing at all.
    QTest::keyClick(form.summary, Qt::Key_Return);
    QVERIFY(!view.isSubmitting());
    QCOMPARE(fixture.jira.requests("POST", "/rest/api/3/issue").size(), std::size_t{0});

    // In the description editor Return is a line break, never the default action.
    form.summary->setText("Ship it");
    form.description->setFocus();
    QTest::keyClick(form.description, Qt::Key_A);
    QTest::keyClick(form.description, Qt::Key_Return);
    QTest::keyClick(form.description, Qt::Key_B);
    QCOMPARE(form.description->toPlainText(), QString("a\nb"));
    QVERIFY(!view.isSubmitting());

    // Enabled: Return in a field creates the task, which closes the window.
    QTest::keyClick(form.summary, Qt::Key_Return);
    QVERIFY(view.isSubmitting());
    QVERIFY(!form.create->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
    QCOMPARE(fixture.jira.requests("POST", "/rest/api/3/issue").size(), std::size_t{1});

    int cancelled = 0;
    AddTaskView other(*fixture.store);
    QObject::connect(&other, &QDialog::finished, [&cancelled] { ++cancelled; });
    other.show();
    QTest::keyClick(Form(&other).summary, Qt::Key_Escape);
    QCOMPARE(cancelled, 1);
}

void AddTaskViewTest::failedCreateKeepsFieldsAndShowsTheStoreMessage()
{
    test::AppFixture fixture;
    int closed = 0;
    AddTaskView view(*fixture.store);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    Form form(&view);
    form.projectKey->setText("NOPE");
    form.summary->setText("A task nobody can file");
    form.description->setPlainText("Some words\n- a bullet");
    form.issueType->setText("Story");
    form.target->segment(2)->click();
    form.assignToMe->setChecked(false);

    form.create->click();
    QTRY_VERIFY_WITH_TIMEOUT(!view.isSubmitting(), 10000);
    QCOMPARE(closed, 0);
    QVERIFY(fixture.store->errorMessage().has_value());
    QCOMPARE(view.error(), fixture.store->errorMessage());
    QVERIFY(form.banner->isVisible());
    QCOMPARE(form.banner->message(), *fixture.store->errorMessage());

    QCOMPARE(form.projectKey->text(), QString("NOPE"));
    QCOMPARE(form.summary->text(), QString("A task nobody can file"));
    QCOMPARE(form.description->toPlainText(), QString("Some words\n- a bullet"));
    QCOMPARE(form.issueType->text(), QString("Story"));
    QCOMPARE(form.target->current(), 2);
    QVERIFY(!form.assignToMe->isChecked());
    QVERIFY(form.create->isEnabled());

    // The next attempt clears the old message as it starts, and succeeds.
    form.projectKey->setText("TB");
    form.create->click();
    QVERIFY(!form.banner->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
}

void AddTaskViewTest::emptyIssueTypeCreatesATask()
{
    test::AppFixture fixture;
    int closed = 0;
    AddTaskView view(*fixture.store);
    QObject::connect(&view, &QDialog::finished, [&closed] { ++closed; });
    view.show();
    Form form(&view);
    form.issueType->clear();
    QCOMPARE(form.issueType->placeholderText(), QString("Task"));
    form.summary->setText("Typed without a type");
    form.target->segment(0)->click();
    form.create->click();
    QTRY_COMPARE_WITH_TIMEOUT(closed, 1, 10000);
    const auto posts = fixture.jira.requests("POST", "/rest/api/3/issue");
    QCOMPARE(posts.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(posts[0].json()["fields"]["issuetype"]["name"].get<std::string>()),
             QString("Task"));
}

void AddTaskViewTest::fieldsAreNamedAndTabbedInVisualOrder()
{
    test::AppFixture fixture;
    AddTaskView view(*fixture.store);
    view.show();
    Form form(&view);
    for (QLineEdit* edit : {form.projectKey, form.summary, form.issueType}) {
        QVERIFY(test::isLabelled(&view, edit));
    }
    // Named controls, in the order they are seen.
    QCOMPARE(test::tabStops(view.findChild<QPushButton*>("addTaskCancel")),
             QStringList({"Cancel", "Project key", "Summary", "Description (optional)", "Issue type", "To Do",
                          "In Progress", "Done", "Assign to me", "Create task"}));
}

QTEST_MAIN(AddTaskViewTest)
#include "add_task_view_test.moc"
