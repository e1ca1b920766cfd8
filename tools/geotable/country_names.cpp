#include "country_names.h"

#include "ascii_text.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <stdexcept>

namespace quokka::tools::geotable {
namespace {

// Codes in use by address registries that the ISO list does not (yet) hold.
const std::map<std::string, std::string> kMissingFromIso = {{"XK", "Kosovo"}};

} // namespace

CountryNames LoadCountryNames(const std::string &iso3166Json, AsciiText &ascii)
{
    QFile file(QString::fromStdString(iso3166Json));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + iso3166Json);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonArray countries = document.object().value(QLatin1StringView("3166-1")).toArray();
    if (error.error != QJsonParseError::NoError || countries.isEmpty())
        throw std::runtime_error(iso3166Json + " is not the iso-codes country list");
    CountryNames names = kMissingFromIso;
    for (const QJsonValue &entry : countries) {
        const QJsonObject country = entry.toObject();
        const QString name = country.contains(QLatin1StringView("common_name")) ? country.value(QLatin1StringView("common_name")).toString()
                                                             : country.value(QLatin1StringView("name")).toString();
        const std::string code = country.value(QLatin1StringView("alpha_2")).toString().toStdString();
        if (code.size() == 2 && !name.isEmpty())
            names[code] = ascii(name.toStdString());
    }
    return names;
}

} // namespace quokka::tools::geotable
