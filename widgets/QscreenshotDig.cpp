#include "widgets/QscreenshotDig.h"

#include "ui_QscreenshotDig.h"

#include "store/PictureName.h"
#include "widgets/Qshowpicture.h"

#include <QDebug>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>

namespace {

const char* const kRestStyle = "QWidget#widget{\n\tbackground-color: rgb(39, 39, 39);\n}";
const char* const kHoverStyle = "QWidget#widget{\n\tbackground-color: rgb(27, 27, 27);\n}";

const char* const kNormalTemperatureStyle = "font-size: 16px;\nfont-weight: 400;\ntext-align: left;\ncolor: #ffffff;";
const char* const kNormalDateStyle = "font-size: 12px;\nfont-weight: 400;\ntext-align: left;\ncolor: #999999;";
const char* const kAbnormalTemperatureStyle = "font-size: 16px;\nfont-weight: 400;\ntext-align: left;\ncolor: #F42F2F;";
const char* const kAbnormalDateStyle = "font-size: 12px;\nfont-weight: 400;\ntext-align: left;\ncolor: #AF2222;";

const char* const kBlueBadge = "  QPushButton\n  {\n\t  color: rgb(255, 255, 255);\n\t  "
                               "background-color:rgb(28,175,233);\n\t  border:1px solid rgb(28,175,233);\n\t  "
                               "border-radius:10px;\n\t  font-size: 12px;}";
const char* const kRedBadge = "  QPushButton\n  {\n\t  color: rgb(255, 255, 255);\n\t  "
                              "background-color:rgb(233,52,28);\n\t  border:1px solid rgb(233,52,28);\n\t  "
                              "border-radius:10px;\n  font-size: 12px;}";

const int kNormal = 1;
const int kAbnormal = 2;
const int kFahrenheitUnit = 1;

} // namespace

QscreenshotDig::QscreenshotDig(const QString& lensfilePath, const QString& temperaturePath, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::QscreenshotDig)
    , m_lensfilePath(lensfilePath)
    , m_temperaturePath(temperaturePath)
    , m_unit(0)
    , m_hasPicture(false)
{
    ui->setupUi(this);
    showPicture();
    fillFromName();
    ui->typelb->installEventFilter(this);
    ui->thermallb->hide();
}

QscreenshotDig::~QscreenshotDig()
{
    delete ui;
}

void QscreenshotDig::showPicture()
{
    if (!QFileInfo(m_lensfilePath).isFile()) {
        qDebug().noquote() << QStringLiteral("%1 不存在").arg(m_lensfilePath);
        // The person was measured and counted; only the picture is missing.
        ui->typelb->setAlignment(Qt::AlignCenter);
        ui->typelb->setText(tr("截图失败"));
        return;
    }
    qDebug() << "image path" << m_lensfilePath;
    ui->typelb->setScaledContents(true);
    m_hasPicture = true;
    // The picture is decoded once the label has its size (decodePicture).
}

void QscreenshotDig::decodePicture()
{
    const QSize size = ui->typelb->size() * ui->typelb->devicePixelRatioF();
    if (!m_hasPicture || size.isEmpty() || size == m_decodedSize)
        return;
    // A composite is some 3000 x 1080 pixels, 13 MB decoded, shown in a
    // label of about 220 x 79: the decoder scales while it decodes, and only
    // the label-sized picture is kept. The label still scales it, should it
    // be painted at another size before the next decode.
    QImageReader reader(m_lensfilePath);
    reader.setScaledSize(size);
    QImage picture = reader.read();
    if (picture.isNull()) {
        qDebug() << "image unreadable" << m_lensfilePath << reader.errorString();
        m_hasPicture = false;
        return;
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(picture));
    pixmap.setDevicePixelRatio(ui->typelb->devicePixelRatioF());
    ui->typelb->setPixmap(pixmap);
    m_decodedSize = size;
}

void QscreenshotDig::fillFromName()
{
    const PictureName name = PictureName::parse(m_lensfilePath);
    if (!name.valid)
        return;
    const double celsius = name.celsius();
    const int state = name.stateCode();
    m_unit = name.unitDigit();

    const bool normal = state == kNormal;
    ui->temperaturelb->setStyleSheet(QLatin1String(normal ? kNormalTemperatureStyle : kAbnormalTemperatureStyle));
    ui->datelb->setStyleSheet(QLatin1String(normal ? kNormalDateStyle : kAbnormalDateStyle));

    if (m_unit == kFahrenheitUnit)
        ui->temperaturelb->setText(tr("测温：%1℉").arg(QString::number(celsius * 9 / 5 + 32, 'f', 2)));
    else
        ui->temperaturelb->setText(tr("测温：%1℃").arg(QString::number(celsius, 'f', 1)));

    if (name.hasStamp())
        ui->datelb->setText(name.dateTime());

    if (state == kNormal) {
        ui->statebtn->setText(tr("正常"));
        ui->statebtn->setStyleSheet(QLatin1String(kBlueBadge));
    } else if (state == kAbnormal) {
        ui->statebtn->setText(tr("异常"));
        ui->statebtn->setStyleSheet(QLatin1String(kRedBadge));
    }
}

void QscreenshotDig::enterEvent(QEvent* event)
{
    ui->widget->setStyleSheet(QLatin1String(kHoverStyle));
    QWidget::enterEvent(event);
}

void QscreenshotDig::leaveEvent(QEvent* event)
{
    ui->widget->setStyleSheet(QLatin1String(kRestStyle));
    QWidget::leaveEvent(event);
}

QWidget* QscreenshotDig::openViewer()
{
    auto* viewer = new Qshowpicture(m_lensfilePath, m_temperaturePath, nullptr);
    viewer->setAttribute(Qt::WA_ShowModal, true);
    viewer->setAttribute(Qt::WA_DeleteOnClose, true);
    viewer->setWindowModality(Qt::ApplicationModal);
    viewer->setWindowFlags(viewer->windowFlags() | Qt::Dialog);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        viewer->move(desktop.x() + (desktop.width() - viewer->width()) / 2,
            desktop.y() + (desktop.height() - viewer->height()) / 2);
    }
    viewer->show();
    return viewer;
}

bool QscreenshotDig::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->typelb && event->type() == QEvent::Resize)
        decodePicture();
    if (event->type() == QEvent::MouseButtonDblClick && (watched == ui->typelb || watched == ui->thermallb))
        openViewer();
    return QWidget::eventFilter(watched, event);
}
