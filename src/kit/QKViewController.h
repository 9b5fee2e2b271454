// A view controller: an object that owns one view, made when it is first asked for.
//
// The view is built by loadView() (subclasses build their widgets there) and finished by
// viewDidLoad(). It has no Qt parent of its own while it is not shown: whoever embeds it
// (a window host) puts it into a window and takes it out again, and the controller deletes
// it when the controller goes. A view deleted by someone else (its window) is noticed: the
// next view() builds a new one.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QKViewController : public QObject {
    Q_OBJECT
public:
    explicit QKViewController(QObject* parent = nullptr);
    ~QKViewController() override;

    // The view, built on first use.
    QWidget* view();
    bool isViewLoaded() const { return !m_view.isNull(); }

    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

protected:
    // Builds the view and hands it to setView(); the default makes an empty widget.
    virtual void loadView();
    virtual void viewDidLoad() {}
    void setView(QWidget* view);

private:
    QPointer<QWidget> m_view;
    QString m_title;
    bool m_loading = false;
};
