#pragma once
// The stored home point: where every drawn route starts, in map pixels. Kept in the
// per-user profile, group "quokka", key "Data", as 8 bytes (x then y, signed 32-bit
// little-endian). (0, 0), a missing value or one of another length mean "no home". The
// profile also keeps the address family preferred (AddressPreference), the table files in use
// and the route monitor's interval (ProfileText).
#include <QByteArray>
#include <QString>
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

// "Prefer IPv6": whether a name with both IPv4 and IPv6 addresses is explored over IPv6. Kept
// in the same profile as the home point, group "quokka", key "PreferIPv6", as true or false;
// a missing value or any other means IPv4 first.
struct AddressPreference {
    static bool ReadPreferIPv6();
    // Returns false when the profile could not be written.
    static bool WritePreferIPv6(bool preferIPv6);
};

// Other values the profile keeps beside the home point, as text under their keys: the table
// files in use and the route monitor's interval.
struct ProfileText {
    static inline const QString kGeoTable = QStringLiteral("quokka/GeoTable");
    static inline const QString kGeoTableIpv6 = QStringLiteral("quokka/GeoTableIPv6");
    static inline const QString kAsTable = QStringLiteral("quokka/AsTable");
    static inline const QString kMonitorInterval = QStringLiteral("quokka/MonitorInterval");

    // The text under KEY; empty when there is none or it is not text.
    static QString Read(const QString &key);
    // Keeps VALUE under KEY (an empty VALUE removes the key); false when the profile could
    // not be written.
    static bool Write(const QString &key, const QString &value);
};

} // namespace quokka::geo
