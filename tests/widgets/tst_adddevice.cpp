// The add-device dialog against the camera simulator: the search list, the
// selection, logging in with the default, saved and typed accounts through a
// real Device, the input rules of the two fields and the title-bar drag.
#include "widgets/QadddeviceDig.h"
#include "widgets/Qdeciveoption.h"
#include "widgets/QtipDig.h"
#include "TestPatience.h"

#include "device/Device.h"
#include "store/LocalDatabase.h"

#include "Camsim.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Addresses of this test's own: three cameras and their search answers.
const char* const kFirstCamera = "127.0.73.2";
const char* const kSearchAnswers = "127.0.73.9";
const int kFirstId = 41;
const char* const kPassword = "secret";

QString en(const char* source)
{
    return QCoreApplication::translate("QadddeviceDig", source);
}

// Types text the way a keyboard with that layout would, one key at a time.
void type(QWidget* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// What the main window does with a dialog: modal, deleted on close.
void openLikeTheMainWindow(QWidget* dialog)
{
    dialog->setAttribute(Qt::WA_ShowModal, true);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose, true);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::Dialog);
    dialog->move(100, 100);
    dialog->show();
}

struct Attempt {
    int id;
    QString address;
    QString userName;
    QString password;
};

// Stands in for the main window: every request becomes a real camera session
// whose login answers go back to the dialog.
class LoginHarness : public QObject {
    Q_OBJECT

public:
    explicit LoginHarness(QadddeviceDig* dialog)
        : m_dialog(dialog)
    {
        connect(dialog, &QadddeviceDig::sigAddDevice, this, &LoginHarness::onSigAddDevice);
    }

    QList<Attempt> attempts;
    QList<int> failures; // results of failed logins, in order

private slots:
    void onSigAddDevice(int id, QString address, QString userName, QString password)
    {
        attempts.append({ id, address, userName, password });
        DeviceRecord record;
        record.id = id;
        record.port = 8800;
        record.address = address;
        record.userName = userName;
        record.password = password;
        auto device = std::make_unique<Device>(record);
        device->setDevice(record);
        if (m_dialog)
            connect(device.get(), &Device::sigLogin, m_dialog.data(), &QadddeviceDig::onSigLogin);
        connect(device.get(), &Device::sigLogin, this, [this](int, Device::LoginState state, int result) {
            if (state == Device::LoginFailed)
                failures.append(result);
        });
        device->login(false, false, 0);
        m_devices.push_back(std::move(device));
    }

private:
    QPointer<QadddeviceDig> m_dialog;
    std::vector<std::unique_ptr<Device>> m_devices;
};

} // namespace

class AddDeviceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Camsim> m_camera;
    QTemporaryDir m_dbDir;
    std::unique_ptr<LocalDatabase> m_store;
    QTranslator m_translator;
    QString m_artifacts;

    template <typename T> static T* child(QWidget* dialog, const char* name)
    {
        T* found = dialog->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }

    // A dialog that has searched and shows the list of the three cameras.
    QadddeviceDig* openWithList()
    {
        auto* dialog = new QadddeviceDig(m_store.get());
        openLikeTheMainWindow(dialog);
        if (!QTest::qWaitForWindowExposed(dialog))
            return nullptr;
        if (!QTest::qWaitFor([dialog] { return dialog->page() == QadddeviceDig::ListPage; }, patient(10000)))
            return nullptr;
        return dialog;
    }

    static Qdeciveoption* rowWithId(QadddeviceDig* dialog, int id)
    {
        for (Qdeciveoption* row : dialog->rows()) {
            if (row->id() == id)
                return row;
        }
        return nullptr;
    }

    static int selectedCount(QadddeviceDig* dialog)
    {
        int count = 0;
        for (Qdeciveoption* row : dialog->rows())
            count += row->isSelected() ? 1 : 0;
        return count;
    }

    void saveShot(QWidget* widget, const QString& name)
    {
        QTest::qWait(100); // let a page switch lay itself out
        QVERIFY(widget->grab().save(m_artifacts + "/" + name + ".png"));
    }

    static void sendTitle(QWidget* title, QEvent::Type type, const QPoint& local, const QPoint& global)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, local, global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(title, &event);
    }

private slots:
    void initTestCase()
    {
        if (Camsim::program().empty())
            QSKIP("the camera simulator was not built");
        m_artifacts = qEnvironmentVariable("ARDENIX_BUILD_DIR", QDir::currentPath()) + "/artifacts";
        QVERIFY(QDir().mkpath(m_artifacts));
        QVERIFY(m_translator.load(":/Thermography/thermography_en.qm"));
        QCoreApplication::installTranslator(&m_translator);

        qputenv("KVSDK_SEARCH_TARGETS", QByteArray(kSearchAnswers) + ":8801");
        qputenv("KVSDK_SEARCH_WINDOW_MS", "700");
        qputenv("KVSDK_LOGIN_TIMEOUT_MS", "3000");
        m_camera = std::make_unique<Camsim>(
            std::vector<std::string> { "--cameras", "3", "--address", kFirstCamera, "--search-address", kSearchAnswers,
                "--first-id", std::to_string(kFirstId), "--password", kPassword, "--no-alarms" });
        QVERIFY2(m_camera->start(), m_camera->log().c_str());

        QVERIFY(m_dbDir.isValid());
        qputenv("ARDENIX_DB", QFile::encodeName(m_dbDir.filePath("ardenix.dat")));
        m_store = std::make_unique<LocalDatabase>();
        m_store->openDatabase();
    }

    void cleanupTestCase()
    {
        m_store.reset();
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        m_camera.reset();
    }

    void searchListsTheCameras()
    {
        QPointer<QadddeviceDig> dialog = new QadddeviceDig(m_store.get());
        QCOMPARE(dialog->page(), int(QadddeviceDig::SearchPage));
        QCOMPARE(dialog->size(), QSize(486, 520));
        QCOMPARE(child<QLabel>(dialog, "titlelb")->text(), en("添加设备"));
        openLikeTheMainWindow(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        saveShot(dialog, "adddevice-1-searching");

        QTRY_COMPARE_WITH_TIMEOUT(dialog->page(), int(QadddeviceDig::ListPage), patient(10000));
        QCOMPARE(child<QLabel>(dialog, "titlelb")->text(), en("搜索列表"));
        QCOMPARE(dialog->size(), QSize(486, 520));
        QCOMPARE(dialog->rows().size(), 3);
        for (int i = 0; i < 3; ++i) {
            Qdeciveoption* row = rowWithId(dialog, kFirstId + i);
            QVERIFY(row);
            QCOMPARE(row->address(), QString("127.0.73.%1").arg(2 + i));
            QCOMPARE(row->userName(), QString("admin"));
            QVERIFY(row->password().isEmpty());
            QVERIFY(!row->isSelected());
            QVERIFY(row->isVisible());
        }
        QTest::mouseClick(dialog->rows().at(1), Qt::LeftButton);
        saveShot(dialog, "adddevice-2-list");

        // Searching again goes back to the first page and lists the same three.
        QTest::mouseClick(child<QPushButton>(dialog, "researchbtn"), Qt::LeftButton);
        QCOMPARE(dialog->page(), int(QadddeviceDig::SearchPage));
        QTRY_COMPARE_WITH_TIMEOUT(dialog->page(), int(QadddeviceDig::ListPage), patient(10000));
        QCOMPARE(dialog->rows().size(), 3);

        QTest::mouseClick(child<QPushButton>(dialog, "cancelbtn"), Qt::LeftButton);
        QTRY_VERIFY(dialog.isNull());
    }

    void selectionIsSingleAndToggles()
    {
        QPointer<QadddeviceDig> dialog = openWithList();
        QVERIFY(dialog);
        LoginHarness harness(dialog);
        const QVector<Qdeciveoption*> rows = dialog->rows();
        QCOMPARE(rows.size(), 3);

        QTest::mouseClick(rows[0], Qt::LeftButton);
        QVERIFY(rows[0]->isSelected());
        QTest::mouseClick(rows[2], Qt::LeftButton);
        QVERIFY(!rows[0]->isSelected());
        QVERIFY(rows[2]->isSelected());
        QCOMPARE(selectedCount(dialog), 1);
        // Pressing the selected row again leaves none selected.
        QTest::mouseClick(rows[2], Qt::LeftButton);
        QCOMPARE(selectedCount(dialog), 0);

        auto* tip = dialog->findChild<QtipDig*>();
        QVERIFY(tip);
        QVERIFY(!tip->isVisible());
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QVERIFY(tip->isVisible());
        QCOMPARE(tip->findChild<QLabel*>("label")->text(), en("请选中设备"));
        QVERIFY(harness.attempts.isEmpty());
        QCOMPARE(dialog->page(), int(QadddeviceDig::ListPage));
        // The tip goes by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!tip->isVisible(), patient(5000));

        // The title bar's close button cancels.
        QTest::mouseClick(child<QPushButton>(dialog, "closebtn"), Qt::LeftButton);
        QTRY_VERIFY(dialog.isNull());
    }

    void wrongPasswordAsksThenTypedOneLogsIn()
    {
        QPointer<QadddeviceDig> dialog = openWithList();
        QVERIFY(dialog);
        LoginHarness harness(dialog);
        QTest::mouseClick(rowWithId(dialog, kFirstId), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(harness.attempts.size(), 1);
        QCOMPARE(harness.attempts[0].id, kFirstId);
        QCOMPARE(harness.attempts[0].address, QString(kFirstCamera));
        QCOMPARE(harness.attempts[0].userName, QString("admin"));
        QVERIFY(harness.attempts[0].password.isEmpty());

        // The camera answers "wrong password": the credentials page.
        QTRY_COMPARE_WITH_TIMEOUT(dialog->page(), int(QadddeviceDig::CredentialsPage), patient(10000));
        QCOMPARE(harness.failures, QList<int>({ 1012 }));
        QCOMPARE(dialog->size(), QSize(486, 300));
        QCOMPARE(child<QLabel>(dialog, "titlelb")->text(), en("用户名或密码错误"));
        auto* user = child<QLineEdit>(dialog, "usernameedit");
        auto* password = child<QLineEdit>(dialog, "pwdedit");
        QCOMPARE(user->text(), QString("admin"));
        QCOMPARE(password->text(), en("请输入密码"));
        QCOMPARE(password->echoMode(), QLineEdit::Normal);
        QVERIFY(child<QLabel>(dialog, "errorlb")->isVisible());
        QVERIFY(child<QLabel>(dialog, "erroriconlb")->isVisible());
        saveShot(dialog, "adddevice-3-credentials");

        // OK with the hint still showing sends an empty password.
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(harness.attempts.size(), 2);
        QVERIFY(harness.attempts[1].password.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(harness.failures.size(), 2, patient(10000));
        QCOMPARE(dialog->page(), int(QadddeviceDig::CredentialsPage));
        QCOMPARE(password->text(), en("请输入密码"));

        // A press on the hint clears it for a hidden password.
        QTest::mouseClick(password, Qt::LeftButton);
        QVERIFY(password->text().isEmpty());
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QVERIFY(!child<QLabel>(dialog, "errorlb")->isVisible());
        QVERIFY(!child<QLabel>(dialog, "erroriconlb")->isVisible());
        QTest::keyClicks(password, kPassword);
        QCOMPARE(password->text(), QString(kPassword));

        // Leaving the field empty brings the hint back in plain text.
        password->clear();
        user->setFocus();
        emit password->editingFinished();
        QCOMPARE(password->text(), en("请输入密码"));
        QCOMPARE(password->echoMode(), QLineEdit::Normal);
        QTest::mouseClick(password, Qt::LeftButton);
        QTest::keyClicks(password, kPassword);

        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(harness.attempts.size(), 3, patient(5000));
        QCOMPARE(harness.attempts[2].userName, QString("admin"));
        QCOMPARE(harness.attempts[2].password, QString(kPassword));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), patient(10000));
    }

    void savedAccountIsUsed()
    {
        m_store->saveAccount(kFirstId + 2, "admin", kPassword);
        QPointer<QadddeviceDig> dialog = openWithList();
        QVERIFY(dialog);
        LoginHarness harness(dialog);
        QTest::mouseClick(rowWithId(dialog, kFirstId + 2), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(dialog, "definebtn"), Qt::LeftButton);
        QCOMPARE(harness.attempts.size(), 1);
        QCOMPARE(harness.attempts[0].id, kFirstId + 2);
        QCOMPARE(harness.attempts[0].address, QString("127.0.73.4"));
        QCOMPARE(harness.attempts[0].password, QString(kPassword));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), patient(10000));
    }

    void fieldsRefuseSpacesAndWideCharacters()
    {
        auto dialog = std::make_unique<QadddeviceDig>(nullptr);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto* user = child<QLineEdit>(dialog.get(), "usernameedit");
        auto* password = child<QLineEdit>(dialog.get(), "pwdedit");
        QCOMPARE(user->text(), QString("admin"));
        for (QLineEdit* field : { user, password }) {
            QVERIFY(!field->testAttribute(Qt::WA_InputMethodEnabled));
            field->setFocus();
            field->clear();
            QTest::keyClicks(field, "ad min");
            QCOMPARE(field->text(), QString("admin"));
            type(field, QString::fromUtf8("管理"));
            QCOMPARE(field->text(), QString("admin"));
            // Pasted text passes the same check.
            field->insert("x y");
            field->insert(QString::fromUtf8("密码"));
            QCOMPARE(field->text(), QString("admin"));
            // The refused range starts at U+04BB; the letter before it passes.
            type(field, QString(QChar(0x04BB)));
            QCOMPARE(field->text(), QString("admin"));
            type(field, QString(QChar(0x04BA)));
            QCOMPARE(field->text(), QString("admin") + QChar(0x04BA));
            field->clear();
            QTest::keyClicks(field, QString(40, 'x'));
            QCOMPARE(field->text().size(), 29);
        }
    }

    void titleBarDragsExceptOnTheLabel()
    {
        auto dialog = std::make_unique<QadddeviceDig>(nullptr);
        dialog->move(200, 150);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto* title = child<QWidget>(dialog.get(), "titleWidget");
        auto* label = child<QLabel>(dialog.get(), "titlelb");
        const QPoint start = dialog->pos();

        // A press on the title label travels up to the bar and starts nothing.
        const QPoint onLabel = label->geometry().center();
        QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, label->rect().center());
        sendTitle(title, QEvent::MouseMove, onLabel + QPoint(40, 30), title->mapToGlobal(onLabel) + QPoint(40, 30));
        QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, label->rect().center());
        QCOMPARE(dialog->pos(), start);

        // A press on the empty part of the bar drags the window along.
        const QPoint empty(title->width() - 120, title->height() / 2);
        QVERIFY(!title->childAt(empty));
        QTest::mousePress(title, Qt::LeftButton, Qt::NoModifier, empty);
        const QPoint target = title->mapToGlobal(empty) + QPoint(60, 45);
        sendTitle(title, QEvent::MouseMove, empty + QPoint(60, 45), target);
        QCOMPARE(dialog->pos(), target - empty);
        sendTitle(title, QEvent::MouseButtonRelease, empty, target);
        const QPoint dropped = dialog->pos();
        sendTitle(title, QEvent::MouseMove, empty, target + QPoint(100, 100));
        QCOMPARE(dialog->pos(), dropped);
    }
};

QTEST_MAIN(AddDeviceTest)
#include "tst_adddevice.moc"
