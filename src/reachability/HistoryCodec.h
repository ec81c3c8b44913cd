#pragma once

#include "HistoryTrack.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The history file's bytes: a header naming the format, the catalogue it
// belongs to (a hash of its identity) and when it was written, then every
// server's track, compressed, then a SHA-256 of all before it. Decoding takes
// the bytes as untrusted: sizes and counts are bounded before anything is
// allocated, every field is checked, and a file that fails any check gives
// nothing, with the reason.
class HistoryCodec {
public:
    static constexpr int MaxServers = 100000;
    static constexpr int RecordBytes = 4 + 4 * 8 + 1 + HistoryTrack::FineSeconds / 2 + HistoryTrack::FineSeconds
        + HistoryTrack::MinuteSlots * 4 + HistoryTrack::TenSlots * 4;
    static constexpr int HeaderBytes = 4 + 2 + 32 + 8 + 4 + 4;
    static constexpr int HashBytes = 32;
    // Compression may add a little to records that do not compress.
    static constexpr qint64 MaxFileBytes = HeaderBytes + qint64(MaxServers) * RecordBytes * 101 / 100 + 4096 + HashBytes;

    using Tracks = std::vector<std::pair<int, HistoryTrack>>;
    struct Decoded {
        Tracks tracks;
        qint64 savedAt = 0; // wall-clock second
    };

    // catalogueKey: 32 bytes naming the catalogue (see HistoryStore::catalogueKey).
    static QByteArray encode(const Tracks &tracks, const QByteArray &catalogueKey, qint64 savedAt);
    // Nothing, and why in *why, unless the bytes are a whole history file of
    // this catalogue, written no later than nowSecond (plus a minute's leeway).
    static std::optional<Decoded> decode(const QByteArray &bytes, const QByteArray &catalogueKey, qint64 nowSecond, QString *why);

private:
    static void put(QByteArray &out, const HistoryTrack &track);
    static bool take(const char *in, HistoryTrack &track);
};
