// The main-thread poster of the block runners for a Qt application: a block posted from any
// thread runs on the main thread's event loop, in the order posted, never inside the post.
#pragma once

// Installs the poster; returns the token for XResetMainThreadPoster. Blocks posted while no
// QCoreApplication exists are dropped (nothing would ever run them).
int XInstallQtMainThreadPoster();

// Installs the poster for the scope's length (put it right after the QApplication, so that
// it is removed before the application goes).
class XQtMainThreadPosterScope {
public:
    XQtMainThreadPosterScope();
    ~XQtMainThreadPosterScope();
    XQtMainThreadPosterScope(const XQtMainThreadPosterScope&) = delete;
    XQtMainThreadPosterScope& operator=(const XQtMainThreadPosterScope&) = delete;

private:
    int m_token;
};
