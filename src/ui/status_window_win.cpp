#include "ui/status_window_win.h"

StatusWindow::~StatusWindow() {}
void StatusWindow::Show(UINT, bool) {}
void StatusWindow::Hide() {}
const WString& StatusWindow::EnsureTitle() { return title_; }
WString ReadProductName(const WString&) { return WString(); }
bool WaitWithMessages(HANDLE handle) { return WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0; }
