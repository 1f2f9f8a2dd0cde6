#include "model/parameterset.h"

#include "model/parametermap.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVector>

namespace ParamSet {
namespace {
const QString Format = QStringLiteral("packscope-parameter-set");

Set refuse(Problem *problem, const QString &where, const QString &what)
{
    if (problem)
        *problem = {where, what};
    return Set();
}

QString decodedString(const QByteArray &quoted)
{
    return QJsonDocument::fromJson("[" + quoted + "]").array().at(0).toString();
}

// The place ("values.COVW") of the first key that an object of `json`
// (well-formed) holds twice; empty when none does. QJsonDocument keeps one
// of them without a word.
QString duplicateKey(const QByteArray &json)
{
    struct Level
    {
        bool object;
        bool expectKey;
        QString path;
        QSet<QString> keys;
    };
    QVector<Level> stack;
    QString lastKey;
    for (int i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            int j = i + 1;
            while (j < json.size() && json[j] != '"')
                j += json[j] == '\\' ? 2 : 1;
            if (!stack.isEmpty() && stack.last().object && stack.last().expectKey) {
                Level &level = stack.last();
                lastKey = decodedString(json.mid(i, j - i + 1));
                if (level.keys.contains(lastKey))
                    return level.path + lastKey;
                level.keys.insert(lastKey);
                level.expectKey = false;
            }
            i = j;
        } else if (c == '{' || c == '[') {
            const QString path = stack.isEmpty() ? QString() : stack.last().path + lastKey + QLatin1Char('.');
            stack.append({c == '{', c == '{', path, {}});
        } else if (c == '}' || c == ']') {
            if (!stack.isEmpty())
                stack.removeLast();
        } else if (c == ',' && !stack.isEmpty() && stack.last().object) {
            stack.last().expectKey = true;
        }
    }
    return QString();
}
} // namespace

Set load(const QString &fileName, Problem *problem)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return refuse(problem, fileName, QStringLiteral("no such file"));
    if (info.isDir())
        return refuse(problem, fileName, QStringLiteral("a folder, not a file"));
    if (!info.isFile())
        return refuse(problem, fileName, QStringLiteral("not a regular file (a FIFO, a device or a socket)"));
    if (info.size() > MaxFileBytes)
        return refuse(problem, fileName, QStringLiteral("larger than 1 MB (%1 bytes)").arg(info.size()));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(problem, fileName, file.errorString());
    // At most one byte more than allowed, should the file have grown since.
    const QByteArray bytes = file.read(MaxFileBytes + 1);
    if (bytes.size() > MaxFileBytes)
        return refuse(problem, fileName, QStringLiteral("larger than 1 MB"));
    return parse(bytes, problem);
}

QByteArray serialize(const Set &set)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), Format);
    o.insert(QStringLiteral("version"), 1);
    o.insert(QStringLiteral("model"), set.model);
    o.insert(QStringLiteral("serial"), set.serial);
    o.insert(QStringLiteral("saved"), set.saved);
    QJsonArray groups;
    for (const Param::Group &g : Param::groups())
        if (set.groups.contains(QLatin1String(g.name)))
            groups.append(QLatin1String(g.name));
    o.insert(QStringLiteral("groups"), groups);
    QJsonObject values;
    for (auto it = set.values.constBegin(); it != set.values.constEnd(); ++it)
        values.insert(it.key(), it.value());
    o.insert(QStringLiteral("values"), values);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

Set parse(const QByteArray &bytes, Problem *problem)
{
    if (problem)
        *problem = Problem();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(problem, QStringLiteral("offset %1").arg(error.offset),
                      QStringLiteral("not JSON: %1").arg(error.errorString()));
    if (!doc.isObject())
        return refuse(problem, QStringLiteral("top level"), QStringLiteral("not a JSON object"));
    const QString twice = duplicateKey(bytes);
    if (!twice.isEmpty())
        return refuse(problem, twice, QStringLiteral("key \"%1\" appears twice").arg(twice.section(QLatin1Char('.'), -1)));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toString() != Format)
        return refuse(problem, QStringLiteral("format"), QStringLiteral("not \"%1\"").arg(Format));
    if (o.value(QStringLiteral("version")) != QJsonValue(1))
        return refuse(problem, QStringLiteral("version"), QStringLiteral("not 1"));
    Set set;
    for (const char *key : {"model", "serial", "saved"}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isString())
            return refuse(problem, QLatin1String(key), QStringLiteral("not a text"));
    }
    set.model = o.value(QStringLiteral("model")).toString();
    set.serial = o.value(QStringLiteral("serial")).toString();
    set.saved = o.value(QStringLiteral("saved")).toString();

    const QJsonValue groupsValue = o.value(QStringLiteral("groups"));
    if (!groupsValue.isArray())
        return refuse(problem, QStringLiteral("groups"), QStringLiteral("missing or not a list"));
    const QJsonArray groups = groupsValue.toArray();
    unsigned mask = 0;
    for (int i = 0; i < groups.size(); ++i) {
        const QString name = groups.at(i).toString();
        const int g = Param::groupIndex(name);
        const QString where = QStringLiteral("groups[%1]").arg(i);
        if (!groups.at(i).isString() || g < 0)
            return refuse(problem, where, QStringLiteral("unknown group \"%1\"").arg(name));
        if (mask & (1u << g))
            return refuse(problem, where, QStringLiteral("group \"%1\" listed twice").arg(name));
        mask |= 1u << g;
    }
    for (int gi = 0; gi < Param::groupCount(); ++gi)
        if (mask & (1u << gi))
            set.groups << QLatin1String(Param::groups().at(gi).name);

    const QJsonValue valuesValue = o.value(QStringLiteral("values"));
    if (!valuesValue.isObject())
        return refuse(problem, QStringLiteral("values"), QStringLiteral("missing or not an object"));
    const QJsonObject values = valuesValue.toObject();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const QString where = QStringLiteral("values.%1").arg(it.key());
        const Param::Field *f = Param::fieldByName(it.key());
        if (!f || f->scale == Param::Scale::Clock)
            return refuse(problem, where, QStringLiteral("unknown field"));
        if (!(mask & (1u << f->group)))
            return refuse(problem, where, QStringLiteral("its group %1 is not listed").arg(QLatin1String(Param::groups()[f->group].name)));
        if (!it.value().isString())
            return refuse(problem, where, QStringLiteral("not a text"));
        const QString text = it.value().toString();
        const Param::Parsed p = Param::parseField(f->scale, text);
        if (!p.ok())
            return refuse(problem, where, QStringLiteral("\"%1\" %2").arg(text, Param::errorText(p.error, 1)));
        set.values.insert(it.key(), text);
    }
    for (const Param::Field &f : Param::fields())
        if (f.scale != Param::Scale::Clock && (mask & (1u << f.group)) && !set.values.contains(QLatin1String(f.name)))
            return refuse(problem, QStringLiteral("values"),
                          QStringLiteral("field %1 of group %2 missing").arg(QLatin1String(f.name), QLatin1String(Param::groups()[f.group].name)));
    return set;
}

Set fromImage(const quint16 *image, unsigned mask)
{
    Set set;
    mask &= ~(1u << Param::timeSetGroup());
    for (int i = 0; i < Param::groupCount(); ++i)
        if (mask & (1u << i))
            set.groups << QLatin1String(Param::groups()[i].name);
    for (const Param::Field &f : Param::fields())
        if (mask & (1u << f.group))
            set.values.insert(QLatin1String(f.name), Param::fieldText(f.scale, image[f.reg]));
    return set;
}

unsigned groupMask(const Set &set)
{
    unsigned mask = 0;
    for (const QString &g : set.groups) {
        const int i = Param::groupIndex(g);
        if (i >= 0)
            mask |= 1u << i;
    }
    return mask;
}

} // namespace ParamSet
