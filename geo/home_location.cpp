#include "geo/home_location.h"

#include <QCoreApplication>
#include <QSettings>
#include <QtEndian>

namespace quokka::geo {

namespace {

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("Local AppWizard-Generated Applications"),
                     QCoreApplication::applicationName());
}

const QString kKey = QStringLiteral("quokka/Data");
const QString kPreferIPv6Key = QStringLiteral("quokka/PreferIPv6");

// Writes VALUE under KEY. A profile file that cannot be parsed is written over in full, but
// the object that read it keeps reporting the format error, whether the write worked or not.
// A second write, after the file has been replaced, tells which it was.
bool WriteProfileValue(const QString &key, const QVariant &value)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSettings profile = Profile();
        if (value.isValid())
            profile.setValue(key, value);
        else
            profile.remove(key);
        profile.sync();
        if (profile.status() != QSettings::FormatError)
            return profile.status() == QSettings::NoError;
    }
    return false;
}

} // namespace

QByteArray HomeLocation::Encode() const
{
    QByteArray bytes(8, '\0');
    qToLittleEndian<qint32>(x, bytes.data());
    qToLittleEndian<qint32>(y, bytes.data() + 4);
    return bytes;
}

HomeLocation HomeLocation::Decode(const QByteArray &bytes)
{
    if (bytes.size() != 8)
        return {};
    return {qFromLittleEndian<qint32>(bytes.constData()), qFromLittleEndian<qint32>(bytes.constData() + 4)};
}

HomeLocation HomeLocation::Read()
{
    const QVariant value = Profile().value(kKey);
    if (value.typeId() != QMetaType::QByteArray)
        return {};
    return Decode(value.toByteArray());
}

bool HomeLocation::Write(const HomeLocation &home)
{
    return WriteProfileValue(kKey, home.Encode());
}

bool AddressPreference::ReadPreferIPv6()
{
    const QString value = Profile().value(kPreferIPv6Key).toString();
    return value == QLatin1String("true");
}

bool AddressPreference::WritePreferIPv6(bool preferIPv6)
{
    return WriteProfileValue(kPreferIPv6Key, preferIPv6 ? QStringLiteral("true") : QStringLiteral("false"));
}

QString ProfileText::Read(const QString &key)
{
    const QVariant value = Profile().value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool ProfileText::Write(const QString &key, const QString &value)
{
    return WriteProfileValue(key, value.isEmpty() ? QVariant() : QVariant(value));
}

} // namespace quokka::geo
