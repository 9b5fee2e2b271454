// The dynamic naming dialog as the output-location picker opens it: a base folder, a template
// with a folder per artist and album, and the live example under it.

#include "naming/KRADynamicNamingDialogV2.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "tools/ui-shot/UiShot.h"

namespace {

const UiShotRegistration
    naming({"naming-dialog", "the dynamic naming dialog with its base folder and example", QSize(), [](UiShotKeep&) {
                auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
                context->setEncoder(QStringLiteral("Matroska (VP9)"));
                auto* dialog = new KRADynamicNamingDialogV2(context, true);
                dialog->setWindowTitleText(QStringLiteral("Dynamic Naming"));
                dialog->setBaseLocation(QStringLiteral("~/Videos/Converted"));
                dialog->setCurPattern(QStringLiteral("[artist]/[album]/[track] - [title].[extension]"));
                dialog->setExMultiDisc(true);
                return static_cast<QWidget*>(dialog);
            }});

} // namespace
