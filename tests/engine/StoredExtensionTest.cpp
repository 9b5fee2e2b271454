// An output extension that comes from a stored multi-encoder set (a profile edited by hand, an
// old version's text) reaches the naming as it stands: the destination must stay inside the
// entry's folder whatever the extension holds.
#include <gtest/gtest.h>

#include <QUrl>

#include "common/TestStore.h"
#include "engine/KRAMultiEncConfig.h"
#include "naming/KRAFileNaming.h"

namespace {

TEST(StoredExtension, CannotMoveTheOutputOutOfItsFolder)
{
    TestStoreScope registry;
    const QStringList hostile = {"/../../etc/passwd", "..", "/..", "../", "...", ".mp4/..", "/"};
    for (const QString& extension : hostile) {
        QString stored = QStringLiteral("-enc1=\"AVI=-q 1\" -encMopt1=\"-customFormatExt={mqt}%1{mqt} "
                                        "-tofolder={mqt}/srv/Out{mqt}\"")
                             .arg(extension);
        SCOPED_TRACE(stored.toStdString());
        const KRAMultiEncConfigRef set = KRAMultiEncConfig::fromString(stored);
        ASSERT_EQ(set->entries.size(), 1);
        const KRAMultiEncEntryRef& entry = set->entries.first();
        ASSERT_TRUE(entry->encoderArgsV2.customFormatExt);
        const QUrl dest = entry->fileNaming->fullPathForSource(QUrl::fromLocalFile("/media/in/clip.mov"), nullptr,
                                                               *entry->encoderArgsV2.customFormatExt);
        ASSERT_TRUE(dest.isValid());
        const QString path = dest.toLocalFile();
        EXPECT_TRUE(path.startsWith("/srv/Out/")) << path.toStdString();
        EXPECT_FALSE(path.mid(9).contains('/')) << path.toStdString();
        EXPECT_FALSE(path.contains(QChar(0)));
        EXPECT_NE(path.section('/', -1), "..");
    }
}

// A NUL cannot come through the stored text (it ends the text there); given directly it must
// not cut the path short either.
TEST(StoredExtension, NulInAnExtensionStaysInTheName)
{
    TestStoreScope registry;
    const QUrl dest =
        KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile("/srv/Out"))
            ->fullPathForSource(QUrl::fromLocalFile("/media/in/clip.mov"), nullptr, QString(".m") + QChar(0) + "/../x");
    ASSERT_TRUE(dest.isValid());
    const QString path = dest.toLocalFile();
    EXPECT_TRUE(path.startsWith("/srv/Out/clip")) << path.toStdString();
    EXPECT_FALSE(path.contains(QChar(0)));
    EXPECT_FALSE(path.mid(9).contains('/')) << path.toStdString();
}

} // namespace
