// An outline with check boxes, as the batch converter's folder tree and the filter lists show.

#include "tools/ui-shot/UiShot.h"

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QStyle>

#include "kit/KRAItemRoles.h"
#include "kit/KRAOutlineView.h"
#include "kit/KRATableHelpers.h"

namespace {

QStandardItem* Entry(const QString& name, Qt::CheckState state, bool folder)
{
    auto* item = new QStandardItem(name);
    item->setCheckable(true);
    item->setAutoTristate(folder);
    item->setCheckState(state);
    item->setEditable(false);
    item->setIcon(QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
    item->setData("QKTableCellImageText", KRACellKindRole);
    return item;
}

QList<QStandardItem*> Row(QStandardItem* name, const QString& size, const QString& length)
{
    auto* sizeItem = new QStandardItem(size);
    sizeItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sizeItem->setEditable(false);
    auto* lengthItem = new QStandardItem(length);
    lengthItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lengthItem->setEditable(false);
    return {name, sizeItem, lengthItem};
}

const UiShotRegistration outline(
    {"outline-checkboxes", "an outline of folders and clips with check boxes", QSize(560, 360), [](UiShotKeep&) {
         auto* view = new KRAOutlineView;
         auto* model = new QStandardItemModel(0, 3, view);
         model->setHorizontalHeaderLabels({"Name", "Size", "Length"});

         QStandardItem* movies = Entry("Movies", Qt::PartiallyChecked, true);
         QStandardItem* holiday = Entry("Holiday 2024", Qt::Checked, true);
         holiday->appendRow(Row(Entry("Beach - Day 1.mp4", Qt::Checked, false), "712 MB", "0:04:12"));
         holiday->appendRow(Row(Entry("Beach - Day 2.mp4", Qt::Checked, false), "1.2 GB", "0:07:48"));
         holiday->appendRow(Row(Entry("Harbour at Night.mov", Qt::Checked, false), "2.4 GB", "0:11:03"));
         movies->appendRow(Row(holiday, "", ""));
         QStandardItem* family = Entry("Family", Qt::Unchecked, true);
         family->appendRow(Row(Entry("Leo's 5th Birthday.mkv", Qt::Unchecked, false), "3.1 GB", "0:25:40"));
         family->appendRow(Row(Entry("Grandma & Grandpa - Garden.mkv", Qt::Unchecked, false), "880 MB", "0:06:15"));
         movies->appendRow(Row(family, "", ""));
         movies->appendRow(Row(Entry("trailer_final_v10.mp4", Qt::Checked, false), "182 MB", "0:02:25"));
         model->appendRow(Row(movies, "", ""));
         QStandardItem* music = Entry("Concert Recordings", Qt::Unchecked, true);
         music->appendRow(Row(Entry("Jazz Night - Set 1.m4a", Qt::Unchecked, false), "96 MB", "0:52:10"));
         model->appendRow(Row(music, "", ""));

         view->setModel(model);
         registerNibSimple(view, "QKTableCellImageText");
         view->expandAll();
         view->setAlternatingRowColors(true);
         view->header()->setStretchLastSection(false);
         view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
         view->setColumnWidth(1, 90);
         view->setColumnWidth(2, 80);
         view->selectionModel()->setCurrentIndex(model->index(0, 0, model->index(0, 0)),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
         return view;
     }});

} // namespace
