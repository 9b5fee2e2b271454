// The list file a join of files reads ("-f concat"), written as the concatenation dialog
// writes it.
#include "tools/common/ToolCommand.h"

#include <unistd.h>

#include <QList>
#include <QUrl>

#include <string>
#include <vector>

#include "platform/XWorkspace.h"
#include "setup/QKConcatenateOrderDialog.h"

namespace {

XStr Absolute(const std::string& path)
{
    return XStr::FromUTF8(ToolAbsolutePath(path));
}

int ConcatList(int argc, char** argv)
{
    if (argc < 3)
        return ToolFail(argv[0], "OUT and at least one SOURCE are needed");
    QList<QUrl> sources;
    for (int i = 2; i < argc; ++i)
        sources.append(XFileURL(Absolute(argv[i])));
    QString error;
    if (!QKConcatenateOrderDialog::writeConcatList(QString::fromLocal8Bit(argv[1]), sources, &error))
        return ToolFail(argv[0], error.toStdString());
    return 0;
}

const ToolCommand kConcatList("concat-list", "OUT SOURCE...", ConcatList);

} // namespace
