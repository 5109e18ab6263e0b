#include "media/GLYuvWidget.h"

GLYuvWidget::GLYuvWidget(int pixelType, QWidget* parent)
    : QOpenGLWidget(parent)
    , m_pixelType(pixelType)
{
}

GLYuvWidget::~GLYuvWidget() = default;

void GLYuvWidget::setDevice(FrameSource* device)
{
    Q_UNUSED(device)
}

void GLYuvWidget::ClearDisplay() { }

bool GLYuvWidget::ClearDraw()
{
    return true;
}

void GLYuvWidget::onSigGotFrameV(FrameData frame)
{
    Q_UNUSED(frame)
}

void GLYuvWidget::initializeGL()
{
    initializeOpenGLFunctions();
}

void GLYuvWidget::paintGL()
{
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}
