#include "home_location.h"

#include <QCoreApplication>
#include <QSettings>
#include <QtEndian>

namespace {

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QStringLiteral("Local AppWizard-Generated Applications"),
                     QCoreApplication::applicationName());
}

const QString kKey = QStringLiteral("quokka/Data");

} // namespace

QByteArray HomeLocation::encode() const
{
    QByteArray bytes(8, '\0');
    qToLittleEndian<qint32>(x, bytes.data());
    qToLittleEndian<qint32>(y, bytes.data() + 4);
    return bytes;
}

HomeLocation HomeLocation::decode(const QByteArray &bytes)
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
    return decode(value.toByteArray());
}

bool HomeLocation::Write(const HomeLocation &home)
{
    QSettings profile = Profile();
    profile.setValue(kKey, home.encode());
    profile.sync();
    return profile.status() == QSettings::NoError;
}
