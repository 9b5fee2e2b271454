#include "kit/QKViewController.h"

QKViewController::QKViewController(QObject* parent) : QObject(parent) {}

QKViewController::~QKViewController()
{
    delete m_view.data();
}

QWidget* QKViewController::view()
{
    if (!m_view && !m_loading) {
        m_loading = true; // a loadView that asks for the view gets null, not endless recursion
        loadView();
        if (!m_view)
            setView(new QWidget);
        m_loading = false;
        viewDidLoad();
    }
    return m_view;
}

void QKViewController::loadView()
{
    setView(new QWidget);
}

void QKViewController::setView(QWidget* view)
{
    if (m_view == view)
        return;
    delete m_view.data();
    m_view = view;
}
