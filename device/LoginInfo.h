#pragma once
// What a successful camera login reported, shared read-only between the
// login worker (which writes a new one per login) and every thread that
// builds on the login: the preview, the configuration requests and the alarm
// link. A copy, so that no thread depends on the login helper's lifetime.

#include "KV_DeviceTypes.h"

#include <QMetaType>

#include <memory>

// Null while no login has succeeded.
using LoginInfoPtr = std::shared_ptr<const KV::Protocol::Device::LoginInfo>;

Q_DECLARE_METATYPE(LoginInfoPtr)
