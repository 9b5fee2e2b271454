#include "kit/KRAException.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <cstring>

KRAException::KRAException(const QString& name, const QString& reason, const QVariantMap& userInfo)
    : m_name(name), m_reason(reason), m_userInfo(userInfo), m_callStack(captureCallStack(1)),
      m_what(reason.toStdString())
{
}

QString KRAException::demangleSymbolLine(const char* line)
{
    if (!line)
        return QString();
    // "file(symbol+offset) [address]"; the symbol is empty for functions the file does not
    // export.
    const char* open = std::strchr(line, '(');
    const char* plus = open ? std::strchr(open, '+') : nullptr;
    const char* close = open ? std::strchr(open, ')') : nullptr;
    if (!open || !plus || !close || plus > close || plus == open + 1)
        return QString::fromLocal8Bit(line);
    const std::string mangled(open + 1, plus);
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    if (status != 0 || !readable) {
        std::free(readable);
        return QString::fromLocal8Bit(line);
    }
    QString result =
        QString::fromLocal8Bit(line, open + 1 - line) + QString::fromLocal8Bit(readable) + QString::fromLocal8Bit(plus);
    std::free(readable);
    return result;
}

__attribute__((noinline)) QStringList KRAException::captureCallStack(int skip)
{
    void* frames[128];
    const int count = backtrace(frames, 128);
    QStringList lines;
    if (count <= 0)
        return lines;
    // Our caller's frame is the one that returns where we return to; counting from there
    // stays right when a sanitizer's interceptor of backtrace() adds frames of its own.
    void* const returnAddress = __builtin_return_address(0);
    int first = 1;
    for (int i = 0; i < count; ++i) {
        if (frames[i] == returnAddress) {
            first = i;
            break;
        }
    }
    first += skip > 0 ? skip : 0;
    char** symbols = backtrace_symbols(frames, count);
    for (int i = first; i < count; ++i)
        lines << (symbols ? demangleSymbolLine(symbols[i]) : QStringLiteral("[%1]").arg(quintptr(frames[i]), 0, 16));
    std::free(symbols);
    return lines;
}
