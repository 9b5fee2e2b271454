#include "kit/KRATableColumns.h"
#include "kit/KRAColumnsModel.h"
#include "kit/KRAItemRoles.h"
#include "platform/XStrQString.h"

#include "common/TestFiles.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QToolTip>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>

namespace {

const QStringList kVideoDefaults{"Name",   "Size",       "Type",     "Date Modified",
                                 "Length", "Resolution", "Bit Rate", "Frame Rate"};

// A table with the video catalogue, its manager, and a model set after the manager was made,
// as the file list does it.
struct Table {
    std::unique_ptr<QTableView> view = std::make_unique<QTableView>();
    std::unique_ptr<KRATableColumns> columns;
    std::unique_ptr<KRAColumnsModel> model;

    Table(bool haveFolder, const QString& autosaveName)
    {
        columns = std::make_unique<KRATableColumns>(view.get(), haveFolder, autosaveName);
        model = std::make_unique<KRAColumnsModel>(*columns);
        view->setModel(model.get());
    }
    ~Table()
    {
        columns.reset();
        view.reset();
    }
    QHeaderView* header() const { return view->horizontalHeader(); }
    int width(const QString& identifier) const { return header()->sectionSize(columns->sectionFor(identifier)); }
    QAction* item(const QString& title) const { return FindItem(columns->menu(), title); }

    static QAction* FindItem(QMenu* menu, const QString& title)
    {
        for (QAction* action : menu->actions()) {
            if (action->text() == title && !action->menu())
                return action;
            if (action->menu()) {
                if (QAction* inner = FindItem(action->menu(), title))
                    return inner;
            }
        }
        return nullptr;
    }
};

class KRATableColumnsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The settings of this process live in a folder of its own: ctest runs the cases of the
        // suite side by side in separate processes.
        static TestTempDir settingsDir;
        QStandardPaths::setTestModeEnabled(true);
        const QString path = QString::fromStdString(settingsDir.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }
    void SetUp() override
    {
        name = QStringLiteral("Columns %1 %2")
                   .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .arg(getpid());
        ClearKeys();
    }
    void TearDown() override { ClearKeys(); }

    void ClearKeys()
    {
        QSettings settings;
        for (const QString& key : settings.allKeys()) {
            if (key.startsWith(name))
                settings.remove(key);
        }
    }
    QString widthKey(const QString& identifier) const { return name + " : column " + identifier; }
    QString visibleKey() const { return name + " : visible columns"; }

    QString name;
};

TEST_F(KRATableColumnsTest, VisibleColumnsAndWidthsCarryOverToTheNextTableOfTheSameName)
{
    {
        Table first(false, name);
        EXPECT_EQ(first.columns->visibleColumnIdentifiers(), kVideoDefaults);
        EXPECT_EQ(first.width("Name"), 250);
        first.item("Type")->trigger();    // hide
        first.item("Streams")->trigger(); // show, at the end
        first.item("Genre")->trigger();   // a tag, from the submenu
        first.header()->resizeSection(first.columns->sectionFor("Name"), 321);
        EXPECT_EQ(first.width("Streams"), 150);
        // New rows (another folder) leave the columns as they are.
        first.model->setRows({std::make_shared<KRAColumnsValueRow>()});
        const QStringList expected{"Name",     "Size",       "Date Modified", "Length", "Resolution",
                                   "Bit Rate", "Frame Rate", "Streams",       "Genre"};
        EXPECT_EQ(first.columns->visibleColumnIdentifiers(), expected);
        EXPECT_EQ(QSettings().value(visibleKey()).toStringList(), expected);
        EXPECT_DOUBLE_EQ(QSettings().value(widthKey("Name")).toDouble(), 321);
        // Hiding a section reports it as resized to nothing: no width is remembered for it.
        EXPECT_FALSE(QSettings().contains(widthKey("Type")));
    }
    Table second(false, name);
    EXPECT_EQ(second.columns->visibleColumnIdentifiers(),
              (QStringList{"Name", "Size", "Date Modified", "Length", "Resolution", "Bit Rate", "Frame Rate", "Streams",
                           "Genre"}));
    EXPECT_EQ(second.width("Name"), 321);
    EXPECT_EQ(second.width("Size"), 120);
    EXPECT_FALSE(second.item("Type")->isChecked());
    EXPECT_TRUE(second.item("Genre")->isChecked());

    // The order the user dragged the columns into is what is remembered.
    second.header()->moveSection(second.header()->visualIndex(second.columns->sectionFor("Genre")), 0);
    second.columns->saveVisibleColumns();
    Table third(false, name);
    EXPECT_EQ(third.columns->visibleColumnIdentifiers().first(), QStringLiteral("Genre"));
}

TEST_F(KRATableColumnsTest, WithoutAutosaveNameNothingIsReadOrWrittenAndTogglingStillWorks)
{
    // Keys that an empty name would form must not be read either.
    QSettings().setValue(" : visible columns", QStringList{"Streams"});
    QSettings().setValue(" : column Name", 400);
    const QStringList keysBefore = QSettings().allKeys();

    Table table(true, QString());
    EXPECT_TRUE(table.columns->visibleColumnsKey().isEmpty());
    EXPECT_TRUE(table.columns->columnAutosaveKey(table.columns->columnWithID("Name")).isEmpty());
    EXPECT_EQ(table.columns->visibleColumnIdentifiers(), kVideoDefaults + QStringList{"Folder"});
    EXPECT_EQ(table.width("Name"), 250);
    EXPECT_EQ(table.width("Folder"), 120);

    table.item("Streams")->trigger();
    table.item("Size")->trigger();
    table.header()->resizeSection(table.columns->sectionFor("Name"), 280);
    EXPECT_TRUE(table.columns->visibleColumnIdentifiers().contains("Streams"));
    EXPECT_FALSE(table.columns->visibleColumnIdentifiers().contains("Size"));
    EXPECT_EQ(QSettings().allKeys(), keysBefore);
    QSettings().remove(" : visible columns");
    QSettings().remove(" : column Name");
}

TEST_F(KRATableColumnsTest, DamagedSavedValuesFallBackToTheDefaults)
{
    struct WidthCase {
        QVariant saved;
        int expected;
    };
    const WidthCase widths[] = {
        {-40, 250},
        {0, 250},
        {20000, 250},
        {QStringLiteral("wide"), 250},
        {QStringList{"a", "b"}, 250},
        {QStringLiteral("nan"), 250},
        {QStringLiteral("inf"), 250},
        // A text that reads as a positive number is a width, and a tiny one is held at the minimum.
        {QStringLiteral("260.4"), 260},
        {3, 10},
    };
    for (const WidthCase& c : widths) {
        QSettings().setValue(widthKey("Name"), c.saved);
        Table table(false, name);
        EXPECT_EQ(table.width("Name"), c.expected) << c.saved.toString().toStdString();
    }
    QSettings().remove(widthKey("Name"));

    struct ListCase {
        QVariant saved;
        QStringList expected;
    };
    const ListCase lists[] = {
        {QStringList{}, kVideoDefaults},
        {QStringList{"Bogus", "Nothing"}, kVideoDefaults},
        {42, kVideoDefaults},
        {QVariantMap{{"Name", 1}}, kVideoDefaults},
        {QStringList{"Size", "Bogus", "Size", "Name"}, QStringList{"Size", "Name"}},
        // The settings file reads a list of one back as plain text.
        {QStringLiteral("Type"), QStringList{"Type"}},
        {QVariantList{7, QStringLiteral("Length")}, QStringList{"Length"}},
    };
    for (const ListCase& c : lists) {
        QSettings().setValue(visibleKey(), c.saved);
        Table table(false, name);
        EXPECT_EQ(table.columns->visibleColumnIdentifiers(), c.expected) << c.saved.toString().toStdString();
        EXPECT_FALSE(table.header()->isHidden());
    }
}

TEST_F(KRATableColumnsTest, ResizingAnotherTablesColumnChangesNothing)
{
    Table mine(false, name);
    QTableView other;
    KRAColumnsModel otherModel(*mine.columns);
    other.setModel(&otherModel);

    other.horizontalHeader()->resizeSection(otherModel.columnFor("Name"), 333);
    mine.columns->tableViewColumnDidResize(other.horizontalHeader(), otherModel.columnFor("Name"));
    EXPECT_FALSE(QSettings().contains(widthKey("Name")));
    EXPECT_EQ(mine.width("Name"), 250);
    EXPECT_DOUBLE_EQ(mine.columns->columnWithID("Name")->width(), 250);

    mine.header()->resizeSection(mine.columns->sectionFor("Size"), 90);
    EXPECT_DOUBLE_EQ(QSettings().value(widthKey("Size")).toDouble(), 90);
}

TEST_F(KRATableColumnsTest, DefaultColumnsResetsTheTableButNotTheSavedSet)
{
    Table table(false, name);
    table.item("Streams")->trigger();
    table.item("Size")->trigger();
    table.header()->resizeSection(table.columns->sectionFor("Name"), 300);
    const QStringList saved = QSettings().value(visibleKey()).toStringList();
    ASSERT_TRUE(saved.contains("Streams"));

    QAction* reset = table.item("Default Columns");
    ASSERT_NE(reset, nullptr);
    reset->trigger();
    EXPECT_EQ(table.columns->visibleColumnIdentifiers(), kVideoDefaults);
    EXPECT_EQ(QSettings().value(visibleKey()).toStringList(), saved);
    EXPECT_EQ(table.width("Name"), 300); // widths are not reset
    EXPECT_FALSE(table.item("Streams")->isChecked());
    EXPECT_TRUE(table.item("Size")->isChecked());
}

TEST_F(KRATableColumnsTest, HeaderMenuListsTheCatalogueAndFollowsTheVisibleColumns)
{
    Table table(true, name);
    QMenu* menu = table.columns->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("Columns"));
    QStringList titles;
    for (QAction* action : menu->actions())
        titles << (action->isSeparator() ? QStringLiteral("---") : action->text());
    const QStringList expected =
        KRATableColumns::columnsMain() + QStringList{"Folder", "---", "Tags", "---", "---", "Default Columns"};
    EXPECT_EQ(titles, expected);

    QMenu* tags = menu->actions().at(titles.indexOf("Tags"))->menu();
    ASSERT_NE(tags, nullptr);
    EXPECT_EQ(tags->title(), QStringLiteral("Tags"));
    QStringList tagTitles;
    for (QAction* action : tags->actions())
        tagTitles << action->text();
    EXPECT_EQ(tagTitles, KRATableColumns::columnsTags());

    for (const KRATableColumnRef& column : table.columns->columns()) {
        QAction* item = table.item(column->title());
        ASSERT_NE(item, nullptr) << column->title().toStdString();
        EXPECT_TRUE(item->isCheckable());
        EXPECT_EQ(item->data().toString(), column->identifier());
        EXPECT_EQ(item->isChecked(), table.columns->visibleColumnIdentifiers().contains(column->identifier()))
            << column->title().toStdString();
    }
    // Called directly, not through the item's own toggle, it acts the same.
    table.columns->onMenuToggle(table.item("Frame Rate"));
    EXPECT_FALSE(table.item("Frame Rate")->isChecked());
    EXPECT_FALSE(table.columns->visibleColumnIdentifiers().contains("Frame Rate"));

    // Without the folder flag there is no Folder item.
    Table plain(false, QString());
    EXPECT_EQ(plain.item("Folder"), nullptr);

    // The header asks for the menu itself.
    table.header()->setContextMenuPolicy(Qt::CustomContextMenu);
    emit table.header()->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(menu->isVisible());
    menu->close();
}

TEST_F(KRATableColumnsTest, TheLastVisibleColumnStays)
{
    QSettings().setValue(visibleKey(), QStringList{"Size", "Name"});
    Table table(false, name);
    table.item("Size")->trigger();
    EXPECT_EQ(table.columns->visibleColumnIdentifiers(), QStringList{"Name"});
    EXPECT_FALSE(table.item("Name")->isEnabled());

    table.item("Name")->trigger();
    table.columns->onMenuToggle(table.item("Name"));
    EXPECT_EQ(table.columns->visibleColumnIdentifiers(), QStringList{"Name"});
    EXPECT_TRUE(table.item("Name")->isChecked());
    EXPECT_FALSE(table.header()->isSectionHidden(table.columns->sectionFor("Name")));
    EXPECT_EQ(QSettings().value(visibleKey()).toStringList(), QStringList{"Name"});

    table.item("Length")->trigger();
    EXPECT_TRUE(table.item("Name")->isEnabled());
}

TEST_F(KRATableColumnsTest, CataloguesHoldTheirWidthsKindsAndAlignments)
{
    std::vector<KRATableColumnRef> video, audio;
    QStringList videoDefaults, audioDefaults;
    KRATableColumns::setupForVideo(video, videoDefaults);
    KRATableColumns::setupForKRA(audio, audioDefaults);
    ASSERT_EQ(video.size(), 33u);
    ASSERT_EQ(audio.size(), 54u);
    EXPECT_EQ(videoDefaults, kVideoDefaults);
    EXPECT_EQ(audioDefaults.size(), 11);

    const auto find = [](const std::vector<KRATableColumnRef>& list, const QString& id) {
        for (const KRATableColumnRef& column : list)
            if (column->identifier() == id)
                return column;
        return KRATableColumnRef();
    };
    EXPECT_DOUBLE_EQ(find(video, "Type")->KRADefaultWidth(), 150);
    EXPECT_DOUBLE_EQ(find(audio, "Type")->KRADefaultWidth(), 80);
    EXPECT_DOUBLE_EQ(find(audio, "Genre")->KRADefaultWidth(), 80);
    EXPECT_DOUBLE_EQ(find(video, "Sample Rate")->KRADefaultWidth(), 140);
    EXPECT_EQ(find(video, "Frame Count")->alignment(), Qt::AlignRight);
    EXPECT_EQ(find(video, "Profile")->alignment(), Qt::AlignLeft);

    const KRATableColumnRef size = find(audio, "Size");
    EXPECT_EQ(size->kind(), KRAColumnKind::Number);
    EXPECT_EQ(size->alignment(), Qt::AlignRight);
    EXPECT_DOUBLE_EQ(size->KRADefaultWidth(), 60);
    const KRATableColumnRef created = find(audio, "Date Created");
    EXPECT_EQ(created->kind(), KRAColumnKind::Date);
    EXPECT_DOUBLE_EQ(created->KRADefaultWidth(), 100);
    EXPECT_EQ(find(audio, "Album")->title(), QStringLiteral("Album"));
    for (const auto* list : {&video, &audio})
        for (const KRATableColumnRef& column : *list)
            EXPECT_EQ(column->sortDescriptorPrototype().key, "sort-" + column->identifier());

    const KRATableColumnRef named = KRATableColumn::numColumnWithID("Track", "Track #");
    EXPECT_EQ(named->identifier(), QStringLiteral("Track"));
    EXPECT_EQ(named->title(), QStringLiteral("Track #"));

    // The model's header answers what the manager and the view need.
    Table table(true, QString());
    const int folder = table.columns->sectionFor("Folder");
    ASSERT_EQ(folder, table.model->columnCount() - 1);
    EXPECT_EQ(table.columns->columnWithID("Folder")->elideMode(), Qt::ElideLeft);
    EXPECT_NE(table.view->itemDelegateForColumn(folder), nullptr);
    const int bitRate = table.model->columnFor("Bit Rate");
    EXPECT_EQ(table.model->headerData(bitRate, Qt::Horizontal).toString(), QStringLiteral("Bit Rate"));
    EXPECT_EQ(table.model->headerData(bitRate, Qt::Horizontal, KRAColumnIdentifierRole).toString(),
              QStringLiteral("Bit Rate"));
    EXPECT_TRUE(table.model->headerData(bitRate, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
}

TEST_F(KRATableColumnsTest, AModelSetBeforeTheManagerIsArrangedAlike)
{
    QSettings().setValue(visibleKey(), QStringList{"Resolution", "Name"});
    std::vector<KRATableColumnRef> catalogue;
    QStringList defaults;
    KRATableColumns::setupForVideo(catalogue, defaults);
    QTableView view;
    KRAColumnsModel model(catalogue);
    view.setModel(&model);
    KRATableColumns columns(&view, false, name);
    EXPECT_EQ(columns.visibleColumnIdentifiers(), (QStringList{"Resolution", "Name"}));
    EXPECT_EQ(view.horizontalHeader()->sectionSize(columns.sectionFor("Name")), 250);
}

// --- sorting ---

std::shared_ptr<KRAColumnsValueRow> Row(const QString& name, const QVariant& size = QVariant())
{
    auto row = std::make_shared<KRAColumnsValueRow>();
    row->setValue("Name", name);
    if (size.isValid())
        row->setValue("Size", size.toString(), size);
    return row;
}

std::vector<KRATableColumnRef> VideoCatalogue()
{
    std::vector<KRATableColumnRef> catalogue;
    QStringList defaults;
    KRATableColumns::setupForVideo(catalogue, defaults);
    return catalogue;
}

QStringList Column(const KRAColumnsModel& model, const QString& identifier)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, model.columnFor(identifier)).data().toString();
    return texts;
}

void SetNames(KRAColumnsModel& model, const QStringList& names)
{
    std::vector<KRAColumnsRowRef> rows;
    for (const QString& name : names)
        rows.push_back(Row(name));
    model.setRows(rows);
}

TEST(KRAColumnsModelTest, NameSortsNaturallyAndEveryOtherColumnPlainly)
{
    auto model = std::make_unique<KRAColumnsModel>(VideoCatalogue());
    SetNames(*model,
             {"clip 10.mp4", "Clip 2.mp4", "clip 1.mp4", "b.mov", "A.mov", "a.mov", "clip 02.mp4", "clip_1.mp4",
              "clip1.mp4", "x99999999999999999999.mp4", "x100000000000000000000.mp4",
              QString::fromUtf8("\u00c9cole.mp4"), QString::fromUtf8("E\u0301cole 2.mp4"), "Dog.mp4", "Frog.mp4"});
    model->sort(model->columnFor("Name"), Qt::AscendingOrder);
    const QStringList expected{"A.mov",
                               "a.mov",
                               "b.mov",
                               "clip 1.mp4",
                               "Clip 2.mp4", // leading zeros and case only break ties
                               "clip 02.mp4",
                               "clip 10.mp4",
                               "clip_1.mp4",
                               "clip1.mp4",
                               "Dog.mp4",
                               QString::fromUtf8("E\u0301cole 2.mp4"), // accents file with their letter
                               QString::fromUtf8("\u00c9cole.mp4"),
                               "Frog.mp4",
                               "x99999999999999999999.mp4",
                               "x100000000000000000000.mp4"};
    EXPECT_EQ(Column(*model, "Name"), expected);
    model->sort(model->columnFor("Name"), Qt::DescendingOrder);
    QStringList reversed = expected;
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(Column(*model, "Name"), reversed);

    // Sizes as numbers, dates as dates, missing values first; ties keep their order.
    const QDateTime base(QDate(2024, 5, 1), QTime(12, 0));
    std::vector<KRAColumnsRowRef> rows{Row("ten", 10), Row("nine", 9), Row("none"), Row("big", qint64(1) << 40),
                                       Row("also ten", 10.0)};
    model->setRows(rows);
    model->sort(model->columnFor("Size"), Qt::AscendingOrder);
    EXPECT_EQ(Column(*model, "Name"), (QStringList{"none", "nine", "ten", "also ten", "big"}));
    EXPECT_EQ(model->index(0, model->columnFor("Size")).data(KRASortValueRole), QVariant());

    auto dated = [&](const QString& name, const QDateTime& when) {
        auto row = Row(name);
        row->setValue("Date Modified", when.toString("d.M.yyyy"), when);
        return row;
    };
    model->setRows({dated("later", base.addDays(20)), dated("first", base.addYears(-3)), dated("mid", base)});
    model->sort(model->columnFor("Date Modified"), Qt::AscendingOrder);
    EXPECT_EQ(Column(*model, "Name"), (QStringList{"first", "mid", "later"}));

    // Texts of other columns compare as they are, case and digits included.
    auto typed = [](const QString& name, const QString& type) {
        auto row = Row(name);
        row->setValue("Type", type);
        return row;
    };
    model->setRows({typed("1", "mp4"), typed("2", "MOV"), typed("3", "h10"), typed("4", "h9")});
    model->sort(model->columnFor("Type"), Qt::AscendingOrder);
    EXPECT_EQ(Column(*model, "Type"), (QStringList{"MOV", "h10", "h9", "mp4"}));
}

TEST(KRAColumnsModelTest, SortingKeepsSelectionsOnTheirRows)
{
    KRAColumnsModel model(VideoCatalogue());
    SetNames(model, {"c", "a", "b"});
    const QPersistentModelIndex picked(model.index(0, 0));
    model.sort(model.columnFor("Name"));
    EXPECT_EQ(picked.row(), 2);
    EXPECT_EQ(picked.data().toString(), QStringLiteral("c"));
}

TEST(KRAColumnsModelTest, NamesThatAreNotUtf8StayDistinctAndTheirOwn)
{
    const QString ff = XStrToQString(XStr::FromUTF8(std::string("clip\xff 1.mp4")));
    const QString fe = XStrToQString(XStr::FromUTF8(std::string("clip\xfe 1.mp4")));
    const QString broken = XStrToQString(XStr::FromUTF8(std::string("\xc3 clip\xed\xa0\x80.mp4")));
    ASSERT_NE(ff, fe);
    EXPECT_NE(KRACompareNatural(ff, fe), 0);
    EXPECT_EQ(KRACompareNatural(ff, fe), -KRACompareNatural(fe, ff));

    const QStringList names{ff, "clip 1.mp4", fe, broken, "clip 2.mp4"};
    KRAColumnsModel model(VideoCatalogue());
    std::vector<KRAColumnsRowRef> rows;
    for (const QString& name : names)
        rows.push_back(Row(name));
    model.setRows(rows);
    model.sort(model.columnFor("Name"));
    const QStringList once = Column(model, "Name");
    // Every row still shows its own name, and no name was lost or doubled.
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_EQ(model.index(row, 0).data().toString(), model.rowAt(row)->displayValue("Name"));
    QStringList sortedNames = once;
    QStringList original = names;
    std::sort(sortedNames.begin(), sortedNames.end());
    std::sort(original.begin(), original.end());
    EXPECT_EQ(sortedNames, original);

    // The order is total: rows given the other way round come out the same.
    std::reverse(rows.begin(), rows.end());
    model.setRows(rows);
    model.sort(model.columnFor("Name"));
    EXPECT_EQ(Column(model, "Name"), once);

    QTableView view;
    view.setModel(&model);
    view.resize(600, 200);
    view.show();
    QApplication::processEvents();
    EXPECT_FALSE(view.grab().isNull());
}

// An independent reading of natural order, compared pair by pair: case-insensitive, digit runs
// by value (of any length), everything else by character.
int ReferenceCompare(const QString& a, const QString& b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            while (x.size() > 1 && x[0] == '0')
                x.remove(0, 1);
            while (y.size() > 1 && y[0] == '0')
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (x != y)
                return x < y ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const QChar x = a[i].toLower(), y = b[j].toLower();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

TEST(KRAColumnsModelTest, TenThousandNamesComeOutInNaturalOrder)
{
    std::mt19937 random(20240501);
    const char* stems[] = {"Clip ", "clip ", "holiday_", "Holiday_", "IMG_", "img_", "take ", "Take "};
    const char* tails[] = {".mp4", ".MOV", "_final.mkv", " b.mp4", ""};
    QStringList names;
    for (int i = 0; i < 10000; ++i) {
        names << QString::fromLatin1(stems[random() % 8]) + QString::number(random() % 5000) +
                     QString::fromLatin1(tails[random() % 5]);
    }
    KRAColumnsModel model(VideoCatalogue());
    SetNames(model, names);
    model.sort(model.columnFor("Name"));
    const QStringList sorted = Column(model, "Name");
    ASSERT_EQ(sorted.size(), names.size());
    for (qsizetype k = 1; k < sorted.size(); ++k)
        ASSERT_LE(ReferenceCompare(sorted[k - 1], sorted[k]), 0)
            << sorted[k - 1].toStdString() << " / " << sorted[k].toStdString();
    QStringList a = sorted, b = names;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
}

TEST(KRAColumnsModelTest, TooltipsShowOnlyForTextTheCellCutsShort)
{
    QTableView view;
    KRATableColumns columns(&view, false);
    KRAColumnsModel model(columns);
    view.setModel(&model);
    const QString longName = QString(300, QChar('w')) + ".mp4";
    model.setRows({Row(longName), Row("a.mp4")});
    view.resize(700, 200);
    view.show();
    QApplication::processEvents();
    const auto hide = [] {
        QToolTip::hideText();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    const auto tipAt = [&](int row) {
        hide();
        const QRect cell = view.visualRect(model.index(row, model.columnFor("Name")));
        QHelpEvent event(QEvent::ToolTip, cell.center(), view.viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(view.viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    // The short name first: a tooltip once shown fades out on a timer, not at once.
    EXPECT_EQ(tipAt(1), QString());
    EXPECT_EQ(tipAt(0), longName);
    hide();
}

} // namespace
