#pragma once
// The stored home point: where every drawn route starts, in map pixels. Kept in the
// per-user profile, group "quokka", key "Data", as 8 bytes (x then y, signed 32-bit
// little-endian). (0, 0), a missing value or one of another length mean "no home".
#include <QByteArray>
#include <optional>

namespace quokka::geo {

struct HomeLocation {
    qint32 x = 0;
    qint32 y = 0;

    bool IsSet() const { return x != 0 || y != 0; }

    // The 8 stored bytes, and back; anything but exactly 8 bytes decodes as no home.
    QByteArray Encode() const;
    static HomeLocation Decode(const QByteArray &bytes);

    // The profile of the running program (named after the program file).
    static HomeLocation Read();
    // Returns false when the profile could not be written.
    static bool Write(const HomeLocation &home);
};

} // namespace quokka::geo
