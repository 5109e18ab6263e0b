#include "media/GLYuvWidget.h"

#include <QOpenGLContext>
#include <QOpenGLShader>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>

namespace {

const qint32 kFrameRgb = 10; // a coloured temperature picture

// A quad over the whole viewport; the texture's first row lands at the top.
const GLfloat kVertices[16] = {
    -1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f, 1.0f, -1.0f, // positions
    0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, // texture coordinates
};
const int kTextureCoordOffset = 8 * sizeof(GLfloat);

const GLuint kVertexLocation = 0;
const GLuint kTextureLocation = 1;

const char* const kVertexShader = R"(
attribute vec4 vertexIn;
attribute vec2 textureIn;
varying vec2 textureOut;
uniform int isDrawBoundV;
uniform int isDirectDrawV;
uniform mat4 mProject;
uniform mat4 mModel;
uniform mat4 mTex;
void main(void)
{
    if (isDrawBoundV == 1) {
        gl_Position = vertexIn;
    } else if (isDirectDrawV == 1) {
        gl_Position = vertexIn;
        textureOut = textureIn;
    } else {
        gl_Position = mProject * mModel * vertexIn;
        textureOut = (mTex * vec4(textureIn, 1.0, 1.0)).xy;
    }
}
)";

// Desktop GL: no precision qualifiers.
const char* const kFragmentShaderFull = R"(
varying vec2 textureOut;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
uniform vec4 boundColor;
uniform int isDrawBoundF;
uniform int pixelType;
void main(void)
{
    mat3 yuvToRgb = mat3(vec3(1.0, 1.0, 1.0), vec3(0.0, -0.39465, 2.03211), vec3(1.13983, -0.58060, 0.0));
    if (isDrawBoundF == 1) {
        gl_FragColor = boundColor;
    } else if (textureOut.x >= 0.0 && textureOut.x <= 1.0 && textureOut.y >= 0.0 && textureOut.y <= 1.0) {
        // Each texture is read once: a software rasteriser runs every
        // branch, so reads inside the branches would multiply.
        vec4 sampleY = texture2D(texY, textureOut);
        vec4 sampleU = texture2D(texU, textureOut);
        vec4 sampleV = texture2D(texV, textureOut);
        if (pixelType == 0) {
            gl_FragColor = sampleY;
        } else {
            vec3 yuv;
            if (pixelType == 1)
                yuv = vec3(sampleY.r, sampleU.r, sampleV.r);
            else if (pixelType == 2)
                yuv = vec3(sampleY.r, sampleU.a, sampleU.r);
            else
                yuv = vec3(sampleY.r, sampleU.r, sampleU.a);
            gl_FragColor = vec4(yuvToRgb * (yuv - vec3(0.0, 0.5, 0.5)), 1.0);
        }
    } else {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
    }
}
)";

// OpenGL ES 2 wants a default float precision and a bool condition.
const char* const kFragmentShaderEs = R"(precision mediump float;
varying vec2 textureOut;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
uniform vec4 boundColor;
uniform int isDrawBoundF;
uniform int pixelType;
void main(void)
{
    mat3 yuvToRgb = mat3(vec3(1.0, 1.0, 1.0), vec3(0.0, -0.39465, 2.03211), vec3(1.13983, -0.58060, 0.0));
    if (bool(isDrawBoundF)) {
        gl_FragColor = boundColor;
    } else if (textureOut.x >= 0.0 && textureOut.x <= 1.0 && textureOut.y >= 0.0 && textureOut.y <= 1.0) {
        // Each texture is read once: a software rasteriser runs every
        // branch, so reads inside the branches would multiply.
        vec4 sampleY = texture2D(texY, textureOut);
        vec4 sampleU = texture2D(texU, textureOut);
        vec4 sampleV = texture2D(texV, textureOut);
        if (pixelType == 0) {
            gl_FragColor = sampleY;
        } else {
            vec3 yuv;
            if (pixelType == 1)
                yuv = vec3(sampleY.r, sampleU.r, sampleV.r);
            else if (pixelType == 2)
                yuv = vec3(sampleY.r, sampleU.a, sampleU.r);
            else
                yuv = vec3(sampleY.r, sampleU.r, sampleU.a);
            gl_FragColor = vec4(yuvToRgb * (yuv - vec3(0.0, 0.5, 0.5)), 1.0);
        }
    } else {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
    }
}
)";

// Last resort for a restricted compiler: planar YUV only.
const char* const kFragmentShaderPlanar = R"(precision mediump float;
varying vec2 textureOut;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
uniform vec4 boundColor;
void main(void)
{
    vec3 yuv;
    yuv.x = texture2D(texY, textureOut).r;
    yuv.y = texture2D(texU, textureOut).r - 0.5;
    yuv.z = texture2D(texV, textureOut).r - 0.5;
    gl_FragColor = vec4(mat3(vec3(1.0, 1.0, 1.0), vec3(0.0, -0.39465, 2.03211), vec3(1.13983, -0.58060, 0.0)) * yuv, 1.0);
}
)";

} // namespace

GLYuvWidget::GLYuvWidget(int pixelType, QWidget* parent)
    : QOpenGLWidget(parent)
    , m_vertexBuffer(QOpenGLBuffer::VertexBuffer)
    , m_pixelType(pixelType)
{
}

GLYuvWidget::~GLYuvWidget()
{
    // The context outlives this part of the object; its end must not call back.
    if (QOpenGLContext* glContext = context())
        disconnect(glContext, nullptr, this, nullptr);
    releaseGL();
}

void GLYuvWidget::setDevice(FrameSource* device)
{
    m_isActive = false;
    m_curFrameV = FrameData();
    update();
    m_sourceDevice = reinterpret_cast<quintptr>(device);
    disconnect(m_sourceConnection);
    m_sourceConnection = QMetaObject::Connection();
    if (device) {
        m_sourceConnection = connect(device, &FrameSource::sigGotFrameV, this, &GLYuvWidget::onSigGotFrameV);
        m_isActive = true;
    }
}

void GLYuvWidget::ClearDisplay()
{
    m_curFrameV = FrameData();
    update();
}

bool GLYuvWidget::ClearDraw()
{
    return true;
}

void GLYuvWidget::onSigGotFrameV(FrameData frame)
{
    if (reinterpret_cast<quintptr>(sender()) != m_sourceDevice || !m_isActive)
        return;
    if ((m_pixelType == 0) != (frame.type == kFrameRgb))
        return;
    // A frame whose payload is shorter than its stated size would make the
    // upload read past it; the previous picture stays instead.
    if (!payloadFits(frame))
        return;
    m_curFrameV = std::move(frame);
    ++m_framesAccepted;
    update();
}

bool GLYuvWidget::payloadFits(const FrameData& frame) const
{
    if (frame.width <= 0 || frame.height <= 0)
        return false;
    const qint64 w = frame.width;
    const qint64 h = frame.height;
    // w * h cannot overflow; after this test the rest cannot either.
    if (w * h > frame.data.size())
        return false;
    const qint64 needed = frame.type == kFrameRgb ? w * h * 3 : w * h + 2 * (w / 2) * (h / 2);
    return frame.data.size() >= needed;
}

void GLYuvWidget::resizeEvent(QResizeEvent* event)
{
    QOpenGLWidget::resizeEvent(event);
}

void GLYuvWidget::initializeGL()
{
    // A new context (the widget moved to another window) starts from scratch.
    releaseGL();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GLYuvWidget::releaseGL, Qt::UniqueConnection);

    initializeOpenGLFunctions();
    glEnable(GL_DEPTH_TEST);

    m_vertexBuffer.create();
    m_vertexBuffer.bind();
    m_vertexBuffer.allocate(kVertices, sizeof(kVertices));

    // The shaders belong to the program and go with it.
    m_program = new QOpenGLShaderProgram(this);
    auto* vertexShader = new QOpenGLShader(QOpenGLShader::Vertex, m_program);
    vertexShader->compileSourceCode(kVertexShader);
    auto* fragmentShader = new QOpenGLShader(QOpenGLShader::Fragment, m_program);
    if (!fragmentShader->compileSourceCode(kFragmentShaderFull)
        && !fragmentShader->compileSourceCode(kFragmentShaderEs))
        fragmentShader->compileSourceCode(kFragmentShaderPlanar);

    m_program->addShader(vertexShader);
    m_program->addShader(fragmentShader);
    m_program->bindAttributeLocation("vertexIn", kVertexLocation);
    m_program->bindAttributeLocation("textureIn", kTextureLocation);
    m_program->link();
    m_program->bind();
    m_program->enableAttributeArray(kVertexLocation);
    m_program->enableAttributeArray(kTextureLocation);
    m_program->setAttributeBuffer(kVertexLocation, GL_FLOAT, 0, 2, 2 * sizeof(GLfloat));
    m_program->setAttributeBuffer(kTextureLocation, GL_FLOAT, kTextureCoordOffset, 2, 2 * sizeof(GLfloat));

    m_program->setUniformValue("isDrawBoundV", 0);
    m_program->setUniformValue("isDrawBoundF", 0);
    m_program->setUniformValue("isDirectDrawV", 1);
    m_program->setUniformValue("pixelType", m_pixelType);

    for (Plane* plane : { &m_planeY, &m_planeU, &m_planeV }) {
        plane->texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
        plane->texture->create();
        plane->id = plane->texture->textureId();
        plane->size = QSize();
        plane->format = 0;
        glBindTexture(GL_TEXTURE_2D, plane->id);
        glHint(GL_GENERATE_MIPMAP_HINT, GL_NICEST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

void GLYuvWidget::paintGL()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (m_curFrameV.data.isEmpty() || !m_isActive || !m_program)
        return;

    // Fit the picture with bars, centred; each value is cut to whole pixels on its own.
    const qreal ratio = devicePixelRatioF();
    const float W = static_cast<float>(width() * ratio);
    const float H = static_cast<float>(height() * ratio);
    const float w = static_cast<float>(m_curFrameV.width);
    const float h = static_cast<float>(m_curFrameV.height);
    float viewWidth = W;
    float viewHeight = H;
    if (W / H > w / h)
        viewWidth = H * w / h;
    else
        viewHeight = W * h / w;
    m_lastViewport = QRect(static_cast<int>((W - viewWidth) * 0.5f), static_cast<int>((H - viewHeight) * 0.5f),
        static_cast<int>(viewWidth), static_cast<int>(viewHeight));
    glViewport(m_lastViewport.x(), m_lastViewport.y(), m_lastViewport.width(), m_lastViewport.height());

    m_program->bind();
    m_vertexBuffer.bind();
    m_program->enableAttributeArray(kVertexLocation);
    m_program->enableAttributeArray(kTextureLocation);
    m_program->setAttributeBuffer(kVertexLocation, GL_FLOAT, 0, 2, 0);
    m_program->setAttributeBuffer(kTextureLocation, GL_FLOAT, kTextureCoordOffset, 2, 0);

    // Rows are tightly packed: odd widths and 4:2:0 chroma rows are not
    // multiples of four bytes.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int fw = m_curFrameV.width;
    const int fh = m_curFrameV.height;
    const char* payload = m_curFrameV.data.constData();
    glActiveTexture(GL_TEXTURE0);
    if (m_curFrameV.type == kFrameRgb) {
        uploadPlane(m_planeY, GL_RGB, fw, fh, payload);
    } else {
        const qint64 lumaSize = static_cast<qint64>(fw) * fh;
        const qint64 chromaSize = static_cast<qint64>(fw / 2) * (fh / 2);
        uploadPlane(m_planeY, GL_LUMINANCE, fw, fh, payload);
        glActiveTexture(GL_TEXTURE1);
        uploadPlane(m_planeU, GL_LUMINANCE, fw / 2, fh / 2, payload + lumaSize);
        glActiveTexture(GL_TEXTURE2);
        uploadPlane(m_planeV, GL_LUMINANCE, fw / 2, fh / 2, payload + lumaSize + chromaSize);
    }

    m_program->setUniformValue("texY", 0);
    m_program->setUniformValue("texU", 1);
    m_program->setUniformValue("texV", 2);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);

    if (m_lastPaintedFrame != m_framesAccepted) {
        m_lastPaintedFrame = m_framesAccepted;
        ++m_framesPainted;
    }
}

void GLYuvWidget::uploadPlane(Plane& plane, GLenum format, int width, int height, const char* pixels)
{
    glBindTexture(GL_TEXTURE_2D, plane.id);
    const QSize size(width, height);
    if (plane.size == size && plane.format == format) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, pixels);
        return;
    }
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
    plane.size = size;
    plane.format = format;
}

void GLYuvWidget::releaseGL()
{
    if (!m_program && !m_vertexBuffer.isCreated() && !m_planeY.texture)
        return;
    makeCurrent();
    m_vertexBuffer.destroy();
    for (Plane* plane : { &m_planeY, &m_planeU, &m_planeV }) {
        plane->texture.reset();
        plane->id = 0;
        plane->size = QSize();
        plane->format = 0;
    }
    delete m_program;
    m_program = nullptr;
    doneCurrent();
}
