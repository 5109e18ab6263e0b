#include "app/Thermography.h"

#include "ui_Thermography.h"

#include "app/ConfigFile.h"
#include "app/CurrentDate.h"
#include "app/ProcessExit.h"
#include "device/AlarmSnapshot.h"
#include "media/GLYuvWidget.h"
#include "store/AppPaths.h"
#include "widgets/ITButton.h"
#include "widgets/QChartshowDig.h"
#include "widgets/QtipDig.h"
#include "widgets/Sizeable.h"
#include "widgets/TitleBarDrag.h"
#include "widgets/deviceshowDig.h"

#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QTimerEvent>

#include <cstdio>

namespace {

Thermography* g_mainWindow = nullptr;

const char* const kVersion = "v1.0.0.0";
const int kDayCheckMs = 2000;
const int kToolButtonRadius = 6;
const int kSpaceLowTipMs = 5000;

// Set by the start-up benchmark: report the first show and end at once.
const char* const kExitWhenShownVariable = "ARDENIX_EXIT_WHEN_SHOWN";

} // namespace

Thermography::Thermography(QWidget* parent)
    : QWidget(parent)
    , m_dragMargin(0)
    , m_maximized(false)
    , ui(new Ui::ThermographyClass)
    , m_titleDrag(nullptr)
    , m_placeholderShown(true)
    , m_tipDialog(nullptr)
    , m_tipTimer(nullptr)
    , m_threshold(DefaultThreshold)
    , m_dayTimerId(0)
    , m_alarmSoundOn(true)
    , m_remindOn(true)
    , m_loginReady(true)
    , m_setupReady(true)
{
    Device::registerMetaTypes();
    ui->setupUi(this);
    g_mainWindow = this;
    setUpWindow();

    connect(ui->minbtn, &QPushButton::clicked, this, &QWidget::showMinimized);
    m_autoShotDir = AppPaths::autoShotDir();
    m_manualShotDir = AppPaths::manualShotDir();
    m_tipTimer = new QTimer(this);
    m_tipTimer->setObjectName(QStringLiteral("tipTimer"));
    connect(m_tipTimer, &QTimer::timeout, this, &Thermography::showhide);
    m_tipDialog = new QtipDig(this);
    m_tipDialog->hide();
    // Both may be emitted by other threads; the work runs here, later.
    connect(this, &Thermography::SigscreenshotResult, this, &Thermography::onscreenshotResult, Qt::QueuedConnection);
    connect(this, &Thermography::SigaddAlarmpush, this, &Thermography::addAlarmpush, Qt::QueuedConnection);

    m_store.openDatabase();
    startSiteSink();
    // Pictures written just before an earlier run ended, but not recorded.
    m_store.recoverPictures(m_autoShotDir);
    AlarmSnapshot::removeLeftovers(m_autoShotDir);
    AlarmSnapshot::removeLeftovers(m_manualShotDir);
    m_retention = std::make_unique<SnapshotRetention>(m_autoShotDir, &Thermography::readRetentionPolicy);
    connect(
        m_retention.get(), &SnapshotRetention::sigSpaceLow, this, &Thermography::onSigSpaceLow, Qt::QueuedConnection);
    m_retention->start();
    ui->defectWaveform->setXLabels(m_store.dayLabels());
    updateCounters();
    m_threshold = readThreshold();
    m_dayTimerId = startTimer(kDayCheckMs, Qt::CoarseTimer);
    fillAlarmList();

    maximize();
    m_alarmSoundOn = readConfigInt(ConfigKey::Alarm) == 1;
    m_remindOn = readConfigInt(ConfigKey::Remind) == 1;
}

Thermography::~Thermography()
{
    // The link threads and the client callbacks use this window: they end
    // before anything of it goes.
    stopFixlinkSessions();
    {
        std::lock_guard<std::mutex> locker(m_deviceLock);
        disconnectDevice();
    }
    if (g_mainWindow == this)
        g_mainWindow = nullptr;
    delete ui;
}

Thermography* Thermography::instance()
{
    return g_mainWindow;
}

void Thermography::setUpWindow()
{
    setWindowIcon(QIcon(QStringLiteral(":/Thermography/Resources/ardenix.ico")));
    // The window keeps its size from the title-bar buttons, not its edges.
    auto* sizeable = new Sizeable(this);
    sizeable->setBorderWidth(0);
    // The form's style sheet paints the window's own background.
    setAttribute(Qt::WA_StyledBackground);
    ui->rebtn->hide();
    ui->titleWidget->installEventFilter(this);
    m_titleDrag = new TitleBarDrag(ui->titleWidget, this, [this] { return m_maximized; });
    m_titleDrag->setMargin(m_dragMargin);

    // The video widgets join these cells (visible light, then the thermal
    // picture); the overlays lie over them.
    QGridLayout* const cells[] = { qobject_cast<QGridLayout*>(ui->normalframe->layout()),
        qobject_cast<QGridLayout*>(ui->thermographyframe->layout()) };
    const int pixelTypes[] = { 1, 0 };
    for (int i = 0; i < 2; ++i) {
        auto* video = new GLYuvWidget(pixelTypes[i], this);
        video->setObjectName(i == 0 ? QStringLiteral("videoWidget") : QStringLiteral("thermalWidget"));
        cells[i]->addWidget(video, 2, 1);
        m_videoWidgets.append(video);
    }
    for (QGridLayout* cell : cells) {
        auto* overlay = new deviceshowDig(this);
        cell->addWidget(overlay, 2, 1);
        m_overlays.append(overlay);
    }

    // Alarm entries stack from the top, newest first.
    ui->idlistlayout->setAlignment(Qt::AlignTop);

    setUpToolButtons();
    ui->titlelb->setText(tr("Ardenix system %1").arg(QLatin1String(kVersion)));
    ui->languagebtn->hide();
    applyScreenSize();
    ui->unitbtn->hide();
}

void Thermography::setUpToolButtons()
{
    const struct {
        QKvWidget::ITButton* button;
        const char* icon;
    } buttons[] = {
        { ui->adddevicebtn, ":/Thermography/Resources/icon_add.png" },
        { ui->setupbtn, ":/Thermography/Resources/icon_set.png" },
        { ui->resetdatabtn, ":/Thermography/Resources/icon_update.png" },
        { ui->disconnectbtn, ":/Thermography/Resources/icon_disconnect.png" },
        { ui->screenshotbnt, ":/Thermography/Resources/icon_screenshot.png" },
        { ui->folderbtn, ":/Thermography/Resources/icon_file.png" },
        { ui->cutvoicebtn, ":/Thermography/Resources/icon_closevoice.png" },
        { ui->flipbtn, ":/Thermography/Resources/drawable-mdpi_icon_invert.png" },
    };
    const QColor text(QStringLiteral("#FFFFFF"));
    for (const auto& entry : buttons) {
        entry.button->setRadius(kToolButtonRadius);
        entry.button->setColorSet(QColor(QStringLiteral("#1CAFE9")), QColor(QStringLiteral("#2EB4E9")),
            QColor(QStringLiteral("#1BA7DE")), QColor(QStringLiteral("#1CAFE9")), text);
        entry.button->addIcon(QString::fromLatin1(entry.icon));
    }
    // Index 0 is "audio off", index 1 "audio on".
    ui->cutvoicebtn->addIcon(QStringLiteral(":/Thermography/Resources/icon_openvoice.png"));
    if (readConfigInt(ConfigKey::Voice) != 0)
        ui->cutvoicebtn->setIconIndex(1);
}

bool Thermography::audioButtonOn() const
{
    return ui->cutvoicebtn->iconIndex() == 1;
}

void Thermography::applyScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    if (available.height() <= 1024 || available.width() <= 1440) {
        setMinimumSize(1280, 720);
        resize(1280, 720);
        ui->defectWaveform->setMinimumHeight(200);
    }
    // Restoring brings the window back to the middle of the screen.
    QRect normal(QPoint(), size());
    normal.moveCenter(available.center());
    move(normal.topLeft());
}

void Thermography::startSiteSink()
{
    // A site that keeps one database for all its stations gets this one's
    // measurements too, from a thread of its own; counting here never waits
    // for it, and the outbox keeps what the site has not confirmed.
    SiteSink::Settings settings;
    settings.uri = readConfigText(QString::fromLatin1(ConfigKey::SiteDatabase)).trimmed();
    if (settings.uri.isEmpty())
        return;
    settings.station = readConfigText(QString::fromLatin1(ConfigKey::SiteStation)).trimmed();
    if (settings.station.isEmpty())
        settings.station = SiteSink::defaultStation();
    settings.localPath = LocalDatabase::databasePath();
    qDebug().noquote() << QStringLiteral("site database: station %1").arg(settings.station);
    m_siteSink = std::make_unique<SiteSink>(settings);
    connect(m_siteSink.get(), &SiteSink::sigSiteOutage, this, [this] {
        qDebug() << "site database tip shown";
        showTip(tr("场地数据库连接失败"), TipMs, false);
    });
    SiteSink* sink = m_siteSink.get();
    m_store.enableSiteOutbox([sink] { sink->wake(); });
    m_siteSink->start();
}

SnapshotRetention::Policy Thermography::readRetentionPolicy()
{
    SnapshotRetention::Policy policy;
    policy.keepDays = readConfigInt(ConfigKey::KeepDays, DefaultKeepDays);
    policy.minFreeMB = readConfigInt(ConfigKey::MinFreeMB, DefaultMinFreeMB);
    return policy;
}

void Thermography::onSigSpaceLow(qint64 freeMB)
{
    qDebug() << "磁盘空间不足" << freeMB << "MB";
    showTip(tr("磁盘空间不足"), kSpaceLowTipMs, false);
}

void Thermography::showTip(const QString& text, int ms, bool alarmStyle)
{
    m_tipTimer->stop();
    m_tipDialog->show();
    m_tipDialog->setMessage(text, alarmStyle);
    m_tipTimer->start(ms);
    m_tipDialog->move((width() - m_tipDialog->width()) / 2, (height() - m_tipDialog->height()) / 2);
    m_tipDialog->raise();
}

void Thermography::showhide()
{
    m_tipTimer->stop();
    m_tipDialog->hide();
}

void Thermography::showDialog(QWidget* dialog)
{
    if (!dialog)
        return;
    dialog->setAttribute(Qt::WA_ShowModal, true);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose, true);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::Dialog);
    const QRect frame = geometry();
    dialog->move(
        frame.x() + (frame.width() - dialog->width()) / 2, frame.y() + (frame.height() - dialog->height()) / 2);
    dialog->show();
}

void Thermography::updateCounters()
{
    ui->allnumlb->setText(QString::number(m_store.totalNormal() + m_store.totalAbnormal()));
    ui->allnormalnumlb->setText(QString::number(m_store.totalNormal()));
    ui->allabnormalnumlb->setText(QString::number(m_store.totalAbnormal()));
    ui->todaynumlb->setText(QString::number(m_store.todayNormal() + m_store.todayAbnormal()));
    ui->todaynormalnumlb->setText(QString::number(m_store.todayNormal()));
    ui->todayabnormalnumlb->setText(QString::number(m_store.todayAbnormal()));
    ui->defectWaveform->setSeriesData(m_store.normalSeries(), 0);
    ui->defectWaveform->setSeriesData(m_store.abnormalSeries(), 1);
}

void Thermography::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_dayTimerId)
        followDate();
}

void Thermography::followDate()
{
    const QString date = CurrentDate::today().toString(QStringLiteral("yyyy-MM-dd"));
    if (date == m_store.today())
        return;
    m_store.setToday(date);
    ui->defectWaveform->setXLabels(m_store.dayLabels());
    updateCounters();
}

void Thermography::maximize()
{
    ui->maxbtn->hide();
    ui->rebtn->show();
    // Without a window manager nobody acts on the maximised state, so the
    // window also takes the screen's free area itself and keeps the size it
    // had for the way back.
    if (!m_maximized)
        m_normalGeometry = geometry();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    showMaximized();
    m_maximized = true;
}

void Thermography::restore()
{
    ui->rebtn->hide();
    ui->maxbtn->show();
    showNormal();
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
    m_maximized = false;
}

void Thermography::on_maxbtn_clicked()
{
    maximize();
}

void Thermography::on_rebtn_clicked()
{
    restore();
}

void Thermography::on_closebtn_clicked()
{
    finishSessionPictures();
    terminateOwnProcess();
}

void Thermography::onSigStopRequested(int signalNumber)
{
    qInfo("ardenix: signal %d, ending", signalNumber);
    on_closebtn_clicked();
}

bool Thermography::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->titleWidget && event->type() == QEvent::MouseButtonDblClick) {
        if (ui->maxbtn->isVisible())
            maximize();
        else
            restore();
    }
    return QWidget::eventFilter(watched, event);
}

void Thermography::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!qEnvironmentVariableIsEmpty(kExitWhenShownVariable)) {
        std::printf("ardenix: window shown\n");
        terminateOwnProcess();
    }
}
