// The program's own exception: a name, a reason, optional user information, and the call
// stack at the point where it was made (so at its throw), which a C++ exception otherwise
// does not keep. Bug reports print all four.
//
// The stack's symbol lines come from glibc's backtrace_symbols with C++ names demangled;
// functions of the executable show by name only when it exports its symbols (-rdynamic).
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <exception>
#include <string>

class KRAException : public std::exception {
public:
    KRAException(const QString& name, const QString& reason, const QVariantMap& userInfo = QVariantMap());

    const QString& name() const { return m_name; }
    const QString& reason() const { return m_reason; }
    const QVariantMap& userInfo() const { return m_userInfo; }
    // Innermost frame first, starting with the function that made the exception.
    const QStringList& callStackSymbols() const { return m_callStack; }

    const char* what() const noexcept override { return m_what.c_str(); }

    // The call stack of the caller, innermost first, skipping `skip` more frames.
    static QStringList captureCallStack(int skip = 0);
    // "name(mangled+0x1f) [0x...]" with the mangled name replaced by the readable one.
    static QString demangleSymbolLine(const char* line);

private:
    QString m_name;
    QString m_reason;
    QVariantMap m_userInfo;
    QStringList m_callStack;
    std::string m_what;
};
