#include "kit/QKAppDelegateMethods.h"

namespace {
QKAppDelegateMethods* g_delegate = nullptr;
}

QKAppDelegateMethods::~QKAppDelegateMethods()
{
    if (g_delegate == this)
        g_delegate = nullptr;
}

QKAppDelegateMethods* QKAppDelegateMethods::shared()
{
    return g_delegate;
}

void QKAppDelegateMethods::setShared(QKAppDelegateMethods* delegate)
{
    g_delegate = delegate;
}

QKBatchConverterProfileSource::~QKBatchConverterProfileSource() = default;
