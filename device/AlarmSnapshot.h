#pragma once
// Alarm snapshot pictures: the names a snapshot is filed under, the composite
// of the visible picture and the temperature picture side by side, and
// writing it as a JPEG file under the first free name.
//
// Plain functions without shared state, safe on any thread: immediate
// snapshots run on the caller's thread, booked ones on the snapshot writer's.

#include "media/FrameData.h"

#include <QImage>
#include <QString>

namespace AlarmSnapshot {

// Largest picture side taken from a frame; a larger one is garbage and would
// make the composite absurdly large.
constexpr int kMaxSide = 8192;
// How many numbered names are tried when the plain one is taken.
constexpr int kMaxCounter = 10000;

// What a snapshot is asked for.
struct Request {
    QString dir; // snapshot folder; empty means "./ManualScreenshot/"
    double temperature = 0; // as the caller counts it (tenths of a degree from alarms)
    int state = 0; // 0 normal, anything else abnormal
    int istate = 0; // the camera's unit code: 1 Fahrenheit
    int id = 0; // the camera's id
};

// The names of one snapshot, all built from the visible frame's time.
struct Names {
    QString folder; // "<dir>/<yyyy-MM-dd>": the date folder
    QString id;
    QString temp; // six significant digits: 37.5, 375
    QString stamp; // yyyyMMddHHmmss, UTC
    QString mode; // 1 normal, 2 abnormal
    QString kind; // 1 Fahrenheit camera, 3 otherwise
    // "<folder>/<id>-<temp>-<stamp>-<mode>-2.jpg": names the thermal half; no
    // file is written under it.
    QString temperaturePath;

    // "<folder>/<id>-<temp>-<stamp>-<mode>-<kind>.jpg" for counter < 0,
    // else "<folder>/<id><counter>-<temp>-<stamp>-<mode>-<kind>.jpg".
    QString output(int counter = -1) const;
};

struct Result {
    bool ok = false;
    QString lensfilePath; // the file written
    QString temperaturePath;
};

// False for values that would break the "-"-separated name: a negative id or
// a temperature that is negative or not finite.
bool canName(const Request& request);
Names buildNames(const Request& request, qint64 pts);

// A decoded picture: sizes from 2 up to kMaxSide, odd ones too, and a payload
// that holds all three planes of tight planar YUV 4:2:0 (chroma planes of
// width / 2 × height / 2).
bool isUsableVideoFrame(const FrameData& frame);
// A false-colour picture: positive sizes up to kMaxSide and width × height × 3
// bytes of RGB.
bool isUsableThermalFrame(const FrameData& frame);

// The visible picture (vw × vh, converted with BT.601 limited-range
// coefficients) with the temperature picture scaled to vh × vh beside it, in
// 24-bit RGB. Null when a frame is unusable.
QImage compose(const FrameData& video, const FrameData& thermal);

// Where a picture is written before it takes its name, in its date folder:
// a program that ended during a write leaves such a file, never a cut-off
// picture under an alarm name.
constexpr const char* kPartialPrefix = ".snapshot-";
constexpr const char* kPartialSuffix = ".part";
constexpr const char* kPartialGlob = ".snapshot-*.part";

// Writes `picture` as a quality-100 JPEG under names.output(), or under the
// first numbered name that is free. The whole file, flushed to the disk,
// takes its name in one rename that never replaces another, so snapshots
// written at the same moment on other threads never share one; the folder
// is flushed after the rename. The file is readable by its owner only.
// Returns the path written; empty on failure, and then no file is left
// behind.
QString writeJpeg(const QImage& picture, const Names& names);

// Removes what writes cut off by an earlier end left in the date folders of
// the last week below `dir`: partial files older than a few minutes (a
// younger one may be another running program's write). Returns how many
// were removed.
int removeLeftovers(const QString& dir);

// The whole snapshot: checks, names, the date folder, the composite and the
// file. Folders it creates are for their owner only (0700), like the file
// (0600); folders that exist stay as they are. Nothing is created when a
// frame is unusable.
Result write(const Request& request, const FrameData& video, const FrameData& thermal);

} // namespace AlarmSnapshot
