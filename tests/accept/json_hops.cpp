// Reads a run's JSON report (the --json output) back: one line per hop, its ttl, address,
// host name, AS number and AS name tab-separated, texts exactly as they were encoded, "null"
// for a missing value. Exits 1 when the file is not a report.
//   json_hops FILE
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cstdio>

int main(int argc, char **argv)
{
    QFile file(QString::fromLocal8Bit(argc == 2 ? argv[1] : ""));
    if (argc != 2 || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "usage: json_hops FILE (a readable JSON report)\n");
        return 2;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.object().value("hops").isArray()) {
        std::fprintf(stderr, "json_hops: not a report: %s\n", qPrintable(error.errorString()));
        return 1;
    }
    const auto text = [](const QJsonValue &value) {
        return value.isNull() ? QStringLiteral("null") : value.isDouble() ? QString::number(value.toInteger()) : value.toString();
    };
    for (const QJsonValue &hop : document.object().value("hops").toArray()) {
        const QJsonObject object = hop.toObject();
        QStringList fields;
        for (const char *key : {"ttl", "address", "hostname", "asn", "as_name"})
            fields << text(object.value(QLatin1String(key)));
        std::printf("%s\n", fields.join(QLatin1Char('\t')).toUtf8().constData());
    }
    return 0;
}
