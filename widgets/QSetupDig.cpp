#include "widgets/QSetupDig.h"

#include "ui_QSetupDig.h"

#include "store/AppPaths.h"
#include "widgets/TemperatureUnits.h"
#include "widgets/TitleBarDrag.h"

#include <QRegExp>
#include <QRegExpValidator>
#include <QSettings>

#include <cmath>

namespace {

QVariant readSetting(const QString& key, const QVariant& defaultValue)
{
    QSettings settings(AppPaths::configFilePath(), QSettings::IniFormat);
    return settings.value(key, defaultValue);
}

void writeSetting(const QString& key, const QVariant& value)
{
    QSettings settings(AppPaths::configFilePath(), QSettings::IniFormat);
    settings.setValue(key, value);
}

const char* const kAlarmKey = "CONFIG/Alarm";
const char* const kRemindKey = "CONFIG/Remind";
const char* const kTemperatureKey = "CONFIG/temperature";
const char* const kFahrenheitKey = "CONFIG/Ftemp%1";
const double kDefaultThreshold = 37.0;
// A stored Fahrenheit figure closer than this to the converted threshold is
// what the operator typed for it, and is shown instead of the conversion.
const double kSameFahrenheit = 0.199;

double storedThreshold()
{
    return readSetting(QLatin1String(kTemperatureKey), kDefaultThreshold).toDouble();
}

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

const char* const QSetupDig::CelsiusPattern = "^([3][5-9][.][0-9])|([4][0-2][.][0-9])";
const char* const QSetupDig::FahrenheitPattern
    = "^([9][5-9][.][0-9])||([1][0][0-9][.][0-9])||([1][1][0-7][.][0-9]) ||([1][1][8][.][0-4])";

QSetupDig::QSetupDig(Device* device, int previewId, int tempType, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::QSetupDig)
    , m_device(device)
    , m_previewId(previewId)
    , m_isFahrenheit(false)
    , m_drag(nullptr)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_drag = TitleBarDrag::makeFrameless(this, ui->titlewidget);
    connect(ui->closebtn, &QPushButton::clicked, this, &QSetupDig::on_cancelbtn_clicked);

    if (m_device)
        connect(m_device.data(), &Device::sigSetThermalResult, this, &QSetupDig::onSigSetThermalResult);

    ui->tiplb->clear();
    setSwitch(ui->AlarmCbox, readSetting(QLatin1String(kAlarmKey), 1).toInt());
    setSwitch(ui->RemindCbox, readSetting(QLatin1String(kRemindKey), 1).toInt());

    const double celsius = storedThreshold();
    if (tempType != FahrenheitUnit) {
        ui->tempEdit->setValidator(new QRegExpValidator(QRegExp(QLatin1String(CelsiusPattern)), ui->tempEdit));
        ui->tempEdit->setText(oneDecimal(celsius));
        ui->Flabel->clear();
        return;
    }

    m_isFahrenheit = true;
    ui->temptypelb->setText(QStringLiteral("℉"));
    ui->tempEdit->setValidator(new QRegExpValidator(QRegExp(QLatin1String(FahrenheitPattern)), ui->tempEdit));
    const double stored = readSetting(fahrenheitKey(), 0).toDouble();
    const double converted = celsiusToFahrenheit(celsius);
    ui->tempEdit->setText(oneDecimal(std::fabs(stored - converted) < kSameFahrenheit ? stored : converted));
    ui->Flabel->setText(QStringLiteral("≈ %1℃").arg(oneDecimal(celsius)));
    connect(ui->tempEdit, &QLineEdit::textChanged, this, &QSetupDig::updateHint);
}

QSetupDig::~QSetupDig()
{
    delete ui;
}

void QSetupDig::endSession()
{
    if (m_device)
        disconnect(m_device.data(), nullptr, this, nullptr);
    m_device.clear();
}

QString QSetupDig::fahrenheitKey() const
{
    return QString::fromLatin1(kFahrenheitKey).arg(m_previewId);
}

void QSetupDig::setSwitch(QAbstractButton* box, int value)
{
    const bool on = value == 1;
    box->setText(on ? tr("开启") : tr("关闭"));
    box->setChecked(on);
}

void QSetupDig::updateHint(const QString& text)
{
    ui->tiplb->clear();
    ui->Flabel->setText(QStringLiteral("≈ %1℃").arg(oneDecimal(fahrenheitToCelsius(text.toDouble()))));
    ui->Flabel->show();
}

void QSetupDig::showError(const QString& text)
{
    ui->tiplb->setText(text);
    ui->Flabel->hide();
}

void QSetupDig::on_AlarmCbox_clicked(bool checked)
{
    setSwitch(ui->AlarmCbox, checked ? 1 : 0);
    writeSetting(QLatin1String(kAlarmKey), checked ? 1 : 0);
}

void QSetupDig::on_RemindCbox_clicked(bool checked)
{
    setSwitch(ui->RemindCbox, checked ? 1 : 0);
    writeSetting(QLatin1String(kRemindKey), checked ? 1 : 0);
}

void QSetupDig::on_definebtn_clicked()
{
    ui->tiplb->clear();
    double value = ui->tempEdit->text().toDouble();
    if (m_isFahrenheit) {
        writeSetting(fahrenheitKey(), value);
        value = fahrenheitToCelsius(value);
    }
    if (value == storedThreshold()) {
        emit sigGetAlarmRemindstate();
        close();
        return;
    }
    if (value < MinThreshold || value >= MaxThreshold) {
        showError(tr("温度不在区间内"));
        return;
    }
    // The session may have ended while the dialog was open.
    if (!m_device) {
        showError(tr("设置失败"));
        return;
    }
    m_device->setThermalInfo(static_cast<int>(value * 10.0), LowThreshold);
}

void QSetupDig::onSigSetThermalResult(int iresult)
{
    if (iresult != Accepted) {
        showError(tr("设置失败"));
        return;
    }
    if (m_isFahrenheit)
        writeSetting(fahrenheitKey(), ui->tempEdit->text().toDouble());
    emit sigGetAlarmRemindstate();
    close();
}

void QSetupDig::on_cancelbtn_clicked()
{
    emit sigGetAlarmRemindstate();
    close();
}
