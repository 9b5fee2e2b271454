#include "job/QKConversionSpec.h"

#include "job/KREDSPs.h"
#include "job/QKElemValueList.h"

namespace {

const QString kQuoteMark = QStringLiteral("{qt}");          // a double quote of the arguments
const QString kLiteralQuoteMark = QStringLiteral("{\"qt}"); // "{qt}" itself, as read from the string

// The name as a value between double quotes that the tokeniser gives back unchanged.
void AppendEscapedName(QString& out, const QString& name)
{
    for (const QChar c : name) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
}

void AppendEscapedArgs(QString& out, const QString& args)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QChar c = args[i];
        if (c == QLatin1Char('{') && QStringView(args).mid(i).startsWith(kQuoteMark)) {
            out += QLatin1String("{\\\"qt}");
            i += kQuoteMark.size() - 1;
        } else if (c == QLatin1Char('"')) {
            out += kQuoteMark;
        } else if (c == QLatin1Char('\\')) {
            out += QLatin1String("\\\\");
        } else {
            out += c;
        }
    }
}

QString UnescapeArgs(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('{')) {
            const QStringView rest = QStringView(text).mid(i);
            if (rest.startsWith(kLiteralQuoteMark)) {
                out += kQuoteMark;
                i += kLiteralQuoteMark.size() - 1;
                continue;
            }
            if (rest.startsWith(kQuoteMark)) {
                out += QLatin1Char('"');
                i += kQuoteMark.size() - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

QString QKConversionSpec::mergeDSPString(const QKDSPChain& chain)
{
    QString out;
    uint32_t number = 0;
    for (const QKDSPSpec& spec : chain) {
        ++number;
        if (!out.isEmpty())
            out += QLatin1Char(' ');
        out += QLatin1String("-dspeffect") + QString::number(number) + QLatin1String("=\"");
        AppendEscapedName(out, spec.name);
        out += QLatin1Char('=');
        AppendEscapedArgs(out, spec.args);
        out += QLatin1Char('"');
    }
    return out;
}

QKDSPChain QKConversionSpec::splitDSPString(const QString& text)
{
    QKDSPChain chain;
    splitDSPString(text, chain);
    return chain;
}

void QKConversionSpec::splitDSPString(const QString& text, QKDSPChain& chain)
{
    const QKElemValueList elements(text);
    for (uint32_t number = 1;; ++number) {
        const std::optional<QString> value = elements.findValue(QLatin1String("dspeffect") + QString::number(number));
        if (!value)
            break;
        const qsizetype equals = value->indexOf(QLatin1Char('='));
        if (equals < 0)
            chain.append(QKDSPSpec(*value, QString()));
        else
            chain.append(QKDSPSpec(value->left(equals), UnescapeArgs(value->mid(equals + 1))));
    }
}

QString QKConversionSpec::combineDSPString(const QString& first, const QString& second)
{
    if (first.isEmpty())
        return second;
    if (second.isEmpty())
        return first;
    QKDSPChain chain = splitDSPString(first);
    splitDSPString(second, chain);
    return mergeDSPString(chain);
}

std::optional<QKDSPChain> QKConversionSpec::readWholeDSPString(const QString& text, QString* error)
{
    auto refuse = [error](const QString& reason) -> std::optional<QKDSPChain> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    // Line ends and blanks around the whole are a file's business; between entries only blanks
    // part them, as for every reader of the string.
    const QString body = text.trimmed();
    auto isSpace = [](QChar c) { return c == QLatin1Char(' '); };
    QSet<QString> known;
    for (const QKDSPDescRef& desc : KREDSPs::list())
        known.insert(desc->name);

    QKDSPChain chain;
    qsizetype i = 0;
    const qsizetype n = body.size();
    for (;;) {
        while (i < n && isSpace(body[i]))
            ++i;
        if (i == n)
            break;
        const int number = static_cast<int>(chain.size()) + 1;
        const QString head = QLatin1String("-dspeffect") + QString::number(number) + QLatin1String("=\"");
        if (!QStringView(body).mid(i).startsWith(head)) {
            if (QStringView(head).startsWith(QStringView(body).mid(i)))
                return refuse(QStringLiteral("Effect %1 is cut short.").arg(number));
            return refuse(chain.isEmpty()
                              ? QStringLiteral("The file holds no effect chain.")
                              : QStringLiteral("What follows effect %1 is no effect %2.").arg(number - 1).arg(number));
        }
        i += head.size();
        QString value;
        bool closed = false;
        while (i < n) {
            const QChar c = body[i++];
            if (c == QLatin1Char('"')) {
                closed = true;
                break;
            }
            if (c == QLatin1Char('\\')) {
                if (i == n)
                    break;
                value += body[i++];
                continue;
            }
            value += c;
        }
        if (!closed)
            return refuse(QStringLiteral("Effect %1 is cut short: its closing quote is missing.").arg(number));
        if (i < n && !isSpace(body[i]))
            return refuse(QStringLiteral("Effect %1 does not end at its closing quote.").arg(number));
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? value : value.left(equals);
        if (equals < 0)
            return refuse(QStringLiteral("Effect %1 (\u201c%2\u201d) has no settings part.").arg(number).arg(name));
        if (!known.contains(name))
            return refuse(QStringLiteral("Effect %1 names no known effect: \u201c%2\u201d.").arg(number).arg(name));
        chain.append(QKDSPSpec(name, UnescapeArgs(value.mid(equals + 1))));
    }
    if (chain.isEmpty())
        return refuse(QStringLiteral("The file holds no effects."));
    // The chain goes on as its string (profiles, the batch): that must read as the same chain.
    if (splitDSPString(mergeDSPString(chain)) != chain)
        return refuse(QStringLiteral("The file holds no effect chain."));
    return chain;
}

QString QKConversionSpec::coreConverterArgs() const
{
    QString args = EncoderArgsV2.strArgs;
    if (!args.isEmpty())
        args += QLatin1Char(' ');
    return args + dspString();
}

QKDSPChain QKDSPList::stringToDSPs(const QString& text)
{
    QKConversionSpec spec;
    spec.setDspString(text);
    return spec.dspEffects;
}

QString QKDSPList::dspsToString(const QKDSPChain& chain)
{
    QKConversionSpec spec;
    spec.dspEffects = chain;
    return spec.dspString();
}
