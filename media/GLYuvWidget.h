#pragma once
// Shows the live pictures of a camera session: takes decoded frames from a
// FrameSource (a Device), uploads them as textures and turns planar YUV into
// RGB in a shader, keeping the picture's aspect ratio with black bars.
// pixelType 1 shows planar YUV 4:2:0 video, 0 the 24-bit RGB thermal picture.
// GUI thread.

#include "media/FrameData.h"

#include <QOpenGLFunctions>
#include <QOpenGLWidget>

class QOpenGLShaderProgram;

class GLYuvWidget : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit GLYuvWidget(int pixelType, QWidget* parent = nullptr);
    ~GLYuvWidget() override;

    // Shows the frames of device from now on (null: none); the picture turns
    // black until the first frame arrives.
    void setDevice(FrameSource* device);

public slots:
    void ClearDisplay();
    bool ClearDraw();
    void onSigGotFrameV(FrameData frame);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    const int m_pixelType;
};
