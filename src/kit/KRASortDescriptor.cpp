#include "kit/KRASortDescriptor.h"

#include <QChar>
#include <QDateTime>

#include <array>

namespace {

const QString kSortPrefix = QStringLiteral("sort-");

// Where a number sits among the other characters of a key: after spaces and punctuation, before
// letters, as people expect a file list to read. The units that follow the mark (the digit
// count, then the digits) are only ever compared with those of another number at the same
// place, because everything before them was equal.
constexpr char16_t kNumberMark = u'0';

// ASCII as it enters a key: letters folded to lower case, digits never (they become numbers),
// and every other character moved below the number mark, keeping its relative order.
constexpr std::array<char16_t, 128> MakeAsciiTable()
{
    std::array<char16_t, 128> table{};
    char16_t rank = 2;
    for (int c = 0; c < 128; ++c) {
        if (c >= 'a' && c <= 'z')
            table[c] = static_cast<char16_t>(c);
        else if (c >= 'A' && c <= 'Z')
            table[c] = static_cast<char16_t>(c - 'A' + 'a');
        else if (c >= '0' && c <= '9')
            table[c] = kNumberMark; // not used: digits are read as numbers
        else if (c < 0x20 || c == 0x7f)
            table[c] = 1;
        else
            table[c] = rank++;
    }
    return table;
}
constexpr std::array<char16_t, 128> kAscii = MakeAsciiTable();
static_assert(kAscii[static_cast<int>('~')] < kNumberMark, "punctuation must sort before numbers");

// The code point at i (a lone surrogate stands for itself) and its length in units.
char32_t CodePointAt(const QChar* s, qsizetype n, qsizetype i, qsizetype* length)
{
    const char16_t unit = s[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < n && s[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(unit, s[i + 1].unicode());
    }
    *length = 1;
    return unit;
}

// 0..9 for a decimal digit of any script, else -1.
int DigitValue(char32_t cp)
{
    if (cp < 0x80)
        return cp >= '0' && cp <= '9' ? static_cast<int>(cp - '0') : -1;
    if (QChar::category(cp) != QChar::Number_DecimalDigit)
        return -1;
    const int value = QChar::digitValue(cp);
    return value >= 0 && value <= 9 ? value : -1;
}

void AppendCodePoint(QString& key, char32_t cp)
{
    if (QChar::requiresSurrogates(cp)) {
        key.append(QChar(QChar::highSurrogate(cp)));
        key.append(QChar(QChar::lowSurrogate(cp)));
    } else {
        key.append(QChar(static_cast<char16_t>(cp)));
    }
}

// A character outside ASCII as it enters a key: its base letter (accents dropped, so that "é"
// files with "e"), folded to lower case. Combining marks on their own (names written in
// decomposed form) add nothing. Lone surrogates, which stand for bytes of a name that is not
// UTF-8, pass unchanged: they have no case and no decomposition.
void AppendWide(QString& key, char32_t cp)
{
    if (QChar::isSurrogate(cp)) {
        key.append(QChar(static_cast<char16_t>(cp)));
        return;
    }
    const QChar::Category category = QChar::category(cp);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
        category == QChar::Mark_Enclosing)
        return;
    for (int depth = 0; depth < 4 && QChar::decompositionTag(cp) == QChar::Canonical; ++depth) {
        const QString parts = QChar::decomposition(cp);
        if (parts.isEmpty())
            break;
        qsizetype length = 0;
        cp = CodePointAt(parts.constData(), parts.size(), 0, &length);
    }
    cp = QChar::toCaseFolded(cp);
    if (cp < 0x80)
        key.append(QChar(kAscii[cp]));
    else
        AppendCodePoint(key, cp);
}

} // namespace

QString KRASortDescriptor::identifier() const
{
    return key.startsWith(kSortPrefix) ? key.mid(kSortPrefix.size()) : QString();
}

KRASortDescriptor KRASortDescriptor::forColumn(const QString& identifier)
{
    KRASortDescriptor descriptor;
    descriptor.key = kSortPrefix + identifier;
    descriptor.comparison = identifier == QLatin1String("Name") ? KRASortComparison::Natural : KRASortComparison::Plain;
    return descriptor;
}

QString KRANaturalSortKey(const QString& text)
{
    QString key;
    key.reserve(text.size() + 4);
    const QChar* s = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const char16_t unit = s[i].unicode();
        if (unit < 0x80 && (unit < '0' || unit > '9')) {
            key.append(QChar(kAscii[unit]));
            ++i;
            continue;
        }
        qsizetype length = 1;
        const char32_t cp = CodePointAt(s, n, i, &length);
        if (DigitValue(cp) < 0) {
            AppendWide(key, cp);
            i += length;
            continue;
        }
        // A run of digits: the mark, the count of significant digits, then those digits, so a
        // longer number is a larger one and equal lengths compare digit by digit.
        key.append(QChar(kNumberMark));
        const qsizetype countAt = key.size();
        key.append(QChar(0));
        char16_t significant = 0;
        while (i < n) {
            const char32_t digitCp = CodePointAt(s, n, i, &length);
            const int value = DigitValue(digitCp);
            if (value < 0)
                break;
            if (value != 0 || significant != 0) {
                key.append(QChar(static_cast<char16_t>(u'0' + value)));
                if (significant < 0xFFFF)
                    ++significant;
            }
            i += length;
        }
        key[countAt] = QChar(significant);
    }
    return key;
}

int KRACompareNatural(const QString& keyA, const QString& textA, const QString& keyB, const QString& textB)
{
    const int byKey = QString::compare(keyA, keyB, Qt::CaseSensitive);
    if (byKey != 0)
        return byKey < 0 ? -1 : 1;
    const int byText = QString::compare(textA, textB, Qt::CaseSensitive);
    return byText < 0 ? -1 : (byText > 0 ? 1 : 0);
}

int KRACompareNatural(const QString& a, const QString& b)
{
    return KRACompareNatural(KRANaturalSortKey(a), a, KRANaturalSortKey(b), b);
}

int KRAComparePlain(const QVariant& a, const QVariant& b)
{
    const bool aMissing = !a.isValid() || a.isNull();
    const bool bMissing = !b.isValid() || b.isNull();
    if (aMissing || bMissing)
        return aMissing == bMissing ? 0 : (aMissing ? -1 : 1);
    const QPartialOrdering order = QVariant::compare(a, b);
    if (order == QPartialOrdering::Less)
        return -1;
    if (order == QPartialOrdering::Greater)
        return 1;
    if (order == QPartialOrdering::Equivalent)
        return 0;
    if (a.typeId() != b.typeId())
        return a.typeId() < b.typeId() ? -1 : 1;
    const int byText = QString::compare(a.toString(), b.toString(), Qt::CaseSensitive);
    return byText < 0 ? -1 : (byText > 0 ? 1 : 0);
}
