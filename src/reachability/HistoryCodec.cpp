#include "HistoryCodec.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <array>
#include <cstring>
#include <unordered_set>

namespace {

constexpr char Magic[4] = {'B', 'R', 'H', 'I'};
constexpr quint16 Version = 1;
constexpr qint64 FutureLeewaySeconds = 60;
constexpr qint64 LatestSecond = 253402300799; // the last second of the year 9999

template <typename T>
void append(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
T read(const char *&in)
{
    const T value = qFromLittleEndian<T>(in);
    in += sizeof(T);
    return value;
}

std::nullopt_t reject(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

} // namespace

void HistoryCodec::put(QByteArray &out, const HistoryTrack &t)
{
    append<qint64>(out, t.fineHead_);
    append<qint64>(out, t.minuteHead_);
    append<qint64>(out, t.tenHead_);
    append<qint64>(out, t.lastChange_);
    append<quint8>(out, t.lastState_);
    out.append(reinterpret_cast<const char *>(t.fine_.data()), qsizetype(t.fine_.size()));
    std::array<std::uint8_t, HistoryTrack::FineSeconds> latencies;
    t.putFineLatencies(latencies.data());
    out.append(reinterpret_cast<const char *>(latencies.data()), qsizetype(latencies.size()));
    for (const HistoryTrack::Minute &m : t.minutes_) {
        append<quint8>(out, m.up);
        append<quint8>(out, m.down);
        append<quint8>(out, m.changes);
        append<quint8>(out, m.latency);
    }
    for (const HistoryTrack::Ten ten : t.tens_)
        append<quint32>(out, ten);
}

bool HistoryCodec::take(const char *in, HistoryTrack &t)
{
    t.fineHead_ = read<qint64>(in);
    t.minuteHead_ = read<qint64>(in);
    t.tenHead_ = read<qint64>(in);
    t.lastChange_ = read<qint64>(in);
    t.lastState_ = read<quint8>(in);
    std::memcpy(t.fine_.data(), in, t.fine_.size());
    in += t.fine_.size();
    const auto *latencies = reinterpret_cast<const std::uint8_t *>(in);
    in += HistoryTrack::FineSeconds;
    for (HistoryTrack::Minute &m : t.minutes_) {
        m.up = read<quint8>(in);
        m.down = read<quint8>(in);
        m.changes = read<quint8>(in);
        m.latency = read<quint8>(in);
        if (m.up + m.down > 60 || m.changes > m.up + m.down)
            return false;
    }
    for (HistoryTrack::Ten &ten : t.tens_) {
        ten = read<quint32>(in);
        if (ten >> 28 || HistoryTrack::tenUp(ten) + HistoryTrack::tenDown(ten) > HistoryTrack::TenSeconds)
            return false;
    }
    for (const std::uint8_t byte : t.fine_) {
        if ((byte & 0x3) > HistoryTrack::Down || ((byte >> 4) & 0x3) > HistoryTrack::Down || (byte & 0x88))
            return false;
    }
    // The rings' heads follow each other: a second leaves into an older minute, a
    // minute into older ten minutes; nothing is recorded before the epoch.
    const bool empty = t.fineHead_ == -1;
    if (t.lastState_ > HistoryTrack::Down || t.fineHead_ < -1 || t.minuteHead_ < -1 || t.tenHead_ < -1 || t.lastChange_ < -1)
        return false;
    if (empty && (t.minuteHead_ != -1 || t.tenHead_ != -1 || t.lastChange_ != -1 || t.lastState_ != HistoryTrack::Unknown))
        return false;
    if (t.minuteHead_ > t.fineHead_ / 60 || t.tenHead_ > t.minuteHead_ / 10 || t.lastChange_ > t.fineHead_)
        return false;
    if (t.fineHead_ > LatestSecond)
        return false;
    t.takeFineLatencies(latencies);
    return true;
}

QByteArray HistoryCodec::encode(const Tracks &tracks, const QByteArray &catalogueKey, qint64 savedAt)
{
    QByteArray records;
    records.reserve(qsizetype(tracks.size()) * RecordBytes);
    for (const auto &[id, track] : tracks) {
        append<qint32>(records, id);
        put(records, track);
    }
    const QByteArray packed = qCompress(records, 1);
    QByteArray out;
    out.reserve(HeaderBytes + packed.size() + HashBytes);
    out.append(Magic, 4);
    append<quint16>(out, Version);
    out.append(catalogueKey.left(32).leftJustified(32, '\0'));
    append<qint64>(out, savedAt);
    append<quint32>(out, quint32(tracks.size()));
    append<quint32>(out, quint32(packed.size()));
    out.append(packed);
    out.append(QCryptographicHash::hash(out, QCryptographicHash::Sha256));
    return out;
}

std::optional<HistoryCodec::Decoded> HistoryCodec::decode(const QByteArray &bytes, const QByteArray &catalogueKey, qint64 nowSecond, QString *why)
{
    if (bytes.size() < HeaderBytes + HashBytes || bytes.size() > MaxFileBytes)
        return reject(why, QStringLiteral("size %1 out of bounds").arg(bytes.size()));
    if (std::memcmp(bytes.constData(), Magic, 4) != 0)
        return reject(why, QStringLiteral("not a history file"));
    const QByteArray body = bytes.left(bytes.size() - HashBytes);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256) != bytes.right(HashBytes))
        return reject(why, QStringLiteral("checksum mismatch"));
    const char *in = bytes.constData() + 4;
    if (read<quint16>(in) != Version)
        return reject(why, QStringLiteral("unknown version"));
    if (QByteArray(in, 32) != catalogueKey.left(32).leftJustified(32, '\0'))
        return reject(why, QStringLiteral("belongs to another catalogue"));
    in += 32;
    Decoded decoded;
    decoded.savedAt = read<qint64>(in);
    const quint32 count = read<quint32>(in);
    const quint32 packedSize = read<quint32>(in);
    if (decoded.savedAt < 0 || decoded.savedAt > nowSecond + FutureLeewaySeconds)
        return reject(why, QStringLiteral("written in the future"));
    if (count > quint32(MaxServers) || qint64(packedSize) != body.size() - HeaderBytes || packedSize < 4)
        return reject(why, QStringLiteral("counts do not match the size"));
    // qCompress puts the unpacked size first: check it before unpacking.
    const qint64 expected = qint64(count) * HistoryCodec::RecordBytes;
    if (qFromBigEndian<quint32>(in) != expected)
        return reject(why, QStringLiteral("unpacked size does not match the count"));
    const QByteArray records = qUncompress(reinterpret_cast<const uchar *>(in), qsizetype(packedSize));
    if (records.size() != expected)
        return reject(why, QStringLiteral("damaged records"));
    decoded.tracks.resize(count);
    std::unordered_set<int> seen;
    const char *record = records.constData();
    for (auto &[id, track] : decoded.tracks) {
        const char *at = record;
        id = read<qint32>(at);
        if (!seen.insert(id).second || !take(at, track) || track.newestSecond() > decoded.savedAt)
            return reject(why, QStringLiteral("invalid record of server %1").arg(id));
        record += RecordBytes;
    }
    return decoded;
}
