// The main window's options: the camera's threshold (settings dialog), its
// temperature unit, the statistics reset, the live sound, the picture flip
// and the language switch.
#include "app/Thermography.h"

#include "ui_Thermography.h"

#include "app/ConfigFile.h"
#include "app/ProcessExit.h"
#include "widgets/QSetupDig.h"
#include "widgets/resetdataDig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMutex>
#include <QProcess>

#include <cmath>

namespace {

constexpr int kNoValue = -1000;
constexpr int kAccepted = 1001;
constexpr int kFahrenheit = 1;
constexpr int kCelsius = 10;
constexpr int kNoUnitSwitch = 0;

// Thresholds outside this range (°C) cannot come from a camera or the
// settings dialog: a damaged settings file.
constexpr double kLowestThreshold = 30.0;
constexpr double kHighestThreshold = 45.0;

} // namespace

double Thermography::readThreshold()
{
    const double stored = readConfigDouble(ConfigKey::Temperature, DefaultThreshold);
    if (!std::isfinite(stored) || stored < kLowestThreshold || stored > kHighestThreshold)
        return DefaultThreshold;
    return stored;
}

void Thermography::on_setupbtn_clicked()
{
    if (!m_setupReady)
        return;
    Device* device = m_deviceMsg.device;
    if (!device) {
        showTip(tr("请连接设备"), TipMs, false);
        return;
    }
    m_setupReady = false;
    device->login(false, true, kReloginForSettings);
}

void Thermography::onSigGetThermal(int highTemp, int lowTemp)
{
    qDebug() << "highTemp" << highTemp << "lowTemp" << lowTemp;
    m_setupReady = true;
    if (highTemp == kNoValue && lowTemp == kNoValue) {
        showTip(tr("获取温度失败"), TipMs, false);
        return;
    }
    writeConfigValue(ConfigKey::Temperature, highTemp / 10.0);
    auto* dialog = new QSetupDig(m_deviceMsg.device, m_deviceMsg.id, m_deviceMsg.tempType, this);
    connect(dialog, &QSetupDig::sigGetAlarmRemindstate, this, &Thermography::onGetAlarmRemindstate);
    showDialog(dialog);
}

void Thermography::GetTempType(int itype)
{
    if (sender() && sender() != m_deviceMsg.device)
        return;
    switch (itype) {
    case kFahrenheit:
        ui->unitbtn->setText(tr("华氏度 ℉"));
        ui->unitbtn->show();
        m_deviceMsg.tempType = kFahrenheit;
        break;
    case kCelsius:
        ui->unitbtn->setText(tr("摄氏度 ℃"));
        ui->unitbtn->show();
        m_deviceMsg.tempType = kCelsius;
        break;
    case kNoUnitSwitch:
        ui->unitbtn->hide();
        break;
    default:
        break;
    }
}

void Thermography::on_unitbtn_clicked()
{
    static QMutex handling;
    if (!handling.tryLock(0))
        return;
    auto* dialog = new resetdataDig(this);
    if (m_deviceMsg.tempType == kFahrenheit) {
        dialog->setQuestion(tr("确定切换温度单位为摄氏度吗？"));
    } else {
        dialog->setQuestion(tr("确定切换温度单位为华氏度吗？"));
        dialog->showFahrenheitWarning();
    }
    connect(dialog, &resetdataDig::sigOnresetdataSet, this, &Thermography::OnTempunit);
    showDialog(dialog);
    handling.unlock();
}

void Thermography::OnTempunit()
{
    qDebug() << "OnTempunit";
    if (Device* device = m_deviceMsg.device)
        device->login(false, true, kReloginForUnit);
}

void Thermography::OnTempTypeResult(int itype)
{
    showTip(itype == kAccepted ? tr("切换成功") : tr("切换失败"), TipMs, false);
}

void Thermography::on_resetdatabtn_clicked()
{
    static QMutex handling;
    if (!handling.tryLock(0))
        return;
    auto* dialog = new resetdataDig(this);
    connect(dialog, &resetdataDig::sigOnresetdataSet, this, &Thermography::OnResetdataSet);
    showDialog(dialog);
    handling.unlock();
}

void Thermography::OnResetdataSet()
{
    // The operator asked for zero: what the window shows and counts on from
    // is zero even when the file could not take it, and the operator hears so.
    if (!m_store.resetCounts()) {
        m_store.zeroFigures();
        showTip(tr("重置未能写入数据文件"), TipMs, false);
    }
    updateCounters();
}

void Thermography::on_cutvoicebtn_clicked()
{
    Device* device = m_deviceMsg.device;
    if (audioButtonOn()) {
        ui->cutvoicebtn->setIconIndex(0);
        writeConfigValue(ConfigKey::Voice, 0);
        if (device) {
            device->setAudioEnabled(false);
            m_audio.setDevice(nullptr);
        }
    } else {
        ui->cutvoicebtn->setIconIndex(1);
        writeConfigValue(ConfigKey::Voice, 1);
        if (device) {
            device->setAudioEnabled(true);
            m_audio.setDevice(device);
        }
    }
}

void Thermography::on_flipbtn_clicked()
{
    if (Device* device = m_deviceMsg.device)
        device->flip();
}

void Thermography::on_languagebtn_clicked()
{
    const int type = readConfigInt(ConfigKey::LanguageType);
    writeConfigValue(ConfigKey::LanguageType, type == 2 ? 1 : 2);
    hide();
    // The pictures of this session are recorded before the new process
    // opens the statistics file.
    finishSessionPictures();
    // The new process starts before this one ends; should it fail, the
    // window comes back instead of the program vanishing.
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    if (QProcess::startDetached(program, QCoreApplication::arguments().mid(1)))
        terminateOwnProcess();
    qWarning() << "could not start" << program;
    // The session's pictures are over; the operator connects again.
    {
        std::lock_guard<std::mutex> locker(m_deviceLock);
        m_picturesFinished = false;
        disconnectDevice();
    }
    show();
}

void Thermography::OnTempSet(double Temp)
{
    m_threshold = Temp;
}
