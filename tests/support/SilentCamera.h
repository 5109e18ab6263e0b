#pragma once
// A camera that takes connections on the camera port and never answers: a
// login to it runs until the login time-out.
class SilentCamera {
public:
    explicit SilentCamera(const char* address);
    ~SilentCamera();
    SilentCamera(const SilentCamera&) = delete;
    SilentCamera& operator=(const SilentCamera&) = delete;
    bool ok() const;

private:
    int m_fd = -1;
    bool m_ok = false;
};
