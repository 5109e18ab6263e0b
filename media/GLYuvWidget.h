#pragma once
// Shows the live pictures of a camera session: takes decoded frames from a
// FrameSource (a Device), uploads them as textures and turns planar YUV into
// RGB in a shader, keeping the picture's aspect ratio with black bars.
// pixelType 1 shows planar YUV 4:2:0 video, 0 the 24-bit RGB thermal picture.
// GUI thread.

#include "media/FrameData.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QRect>
#include <QSize>

#include <memory>

class QOpenGLShaderProgram;
class QOpenGLTexture;

class GLYuvWidget : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit GLYuvWidget(int pixelType, QWidget* parent = nullptr);
    ~GLYuvWidget() override;

    // Shows the frames of device from now on (null: none); the picture turns
    // black until the first frame arrives.
    void setDevice(FrameSource* device);

    int pixelType() const { return m_pixelType; }
    bool isActive() const { return m_isActive; }
    // Frames taken for display so far, and how many of them were drawn at
    // least once (frames that arrive faster than paints are skipped).
    quint64 framesAccepted() const { return m_framesAccepted; }
    quint64 framesPainted() const { return m_framesPainted; }
    // Where the last paint put the picture, in device pixels; empty before.
    QRect lastViewport() const { return m_lastViewport; }

public slots:
    void ClearDisplay();
    bool ClearDraw();
    void onSigGotFrameV(FrameData frame);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    // One plane texture and the size it was last defined with, so that a
    // picture of the same size only replaces the texels.
    struct Plane {
        std::unique_ptr<QOpenGLTexture> texture;
        GLuint id = 0;
        QSize size;
        GLenum format = 0;
    };

    bool payloadFits(const FrameData& frame) const;
    void uploadPlane(Plane& plane, GLenum format, int width, int height, const char* pixels);
    void releaseGL();

    quintptr m_sourceDevice = 0;
    // The connection to the source; a detached source keeps none, so that
    // its destruction on another thread never meets this widget's.
    QMetaObject::Connection m_sourceConnection;
    bool m_isActive = false;
    QOpenGLShaderProgram* m_program = nullptr;
    QOpenGLBuffer m_vertexBuffer;
    Plane m_planeY;
    Plane m_planeU;
    Plane m_planeV;
    FrameData m_curFrameV;
    const int m_pixelType;

    quint64 m_framesAccepted = 0;
    quint64 m_framesPainted = 0;
    quint64 m_lastPaintedFrame = 0;
    QRect m_lastViewport;
};
