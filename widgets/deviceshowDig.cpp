#include "widgets/deviceshowDig.h"

#include "ui_deviceshowDig.h"

#include <QLayout>
#include <QTimer>
#include <cstdlib>

deviceshowDig::deviceshowDig(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::deviceshowDig)
    , m_faceTimer(nullptr)
    , m_lastWidth(0)
    , m_lastHeight(0)
{
    ui->setupUi(this);
    // The overlay lies on top of the video: only its own drawing may show.
    setAttribute(Qt::WA_TranslucentBackground);
    ui->right->hide();
    m_lastWidth = width();
    m_lastHeight = height();

    m_faceTimer = new QTimer(this);
    connect(m_faceTimer, &QTimer::timeout, this, &deviceshowDig::moveface);
    m_faceTimer->start(FaceCheckMs);
}

deviceshowDig::~deviceshowDig()
{
    delete ui;
}

void deviceshowDig::showDisconnected(bool connected)
{
    ui->left->setVisible(!connected);
    ui->right->setVisible(connected);
}

void deviceshowDig::showConnected(bool hideFrame)
{
    ui->left->hide();
    ui->right->setVisible(!hideFrame);
}

QMargins deviceshowDig::faceMargins(const QSize& panel)
{
    const int w = qMax(0, panel.width());
    const int h = qMax(0, panel.height());
    const int unit = (w / 16 >= h / 9) ? h / 9 : w / 16;
    const int vertical = (h - 9 * unit) / 2;
    const int horizontal = (w - 16 * unit) / 2;
    return QMargins(horizontal, vertical + FaceTopOffset, horizontal, vertical);
}

void deviceshowDig::moveface()
{
    const int w = ui->right->width();
    const int h = ui->right->height();
    // Changes of a pixel come from rounding in the parent layout; following
    // them would make the frame jitter.
    if (std::abs(m_lastWidth - w) < 2 && std::abs(m_lastHeight - h) < 2)
        return;
    m_lastWidth = w;
    m_lastHeight = h;
    ui->right->layout()->setContentsMargins(faceMargins(QSize(w, h)));
}
