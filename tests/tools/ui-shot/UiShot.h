// The windows ui-shot can render. Each file of this folder registers the windows of one
// library with a static UiShotRegistration; the build function makes the window with
// realistic sample content and returns the top-level widget to render.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// Objects a shot's window needs alive while it is rendered (a window host, its panel, a
// model); released after the picture is taken, before the window itself.
using UiShotKeep = std::vector<std::shared_ptr<void>>;

struct UiShot {
    QString name;        // what `ui-shot NAME` takes: lower case, words joined by "-"
    QString description; // one line for --list
    QSize size;          // the window's size when --size is not given; empty: its own
    std::function<QWidget*(UiShotKeep& keep)> build;
};

struct UiShotRegistration {
    explicit UiShotRegistration(UiShot shot);
};

const std::vector<UiShot>& UiShots();
