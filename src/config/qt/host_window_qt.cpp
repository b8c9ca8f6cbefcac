// SPDX-License-Identifier: MIT
// Adoption of the host window on Qt: the host passes its main window (a
// QWidget*) or null. The pointer is not trusted until the dialog is first
// needed; it is then accepted only if it is a widget of the running Qt
// application, so a host that passes something else gets a dialog without an
// owner rather than a crash.
#include <QApplication>
#include <QThread>
#include <QWidget>

#include "config/host_window.h"
#include "config/qt/port_type_dialog_qt.h"

namespace vu30::config {

namespace {

QWidget* FindHostWidget(void* hostWindow) {
  if (hostWindow == nullptr) return nullptr;
  const QWidgetList widgets = QApplication::allWidgets();
  for (QWidget* widget : widgets) {
    if (static_cast<void*>(widget) == hostWindow) return widget;
  }
  qWarning(
      "vu30: the host window given to GetVU30 is not a widget of this application; "
      "the port type dialog is shown without an owner");
  return nullptr;
}

}  // namespace

void AdoptHostWindow(void* hostWindow) {
  COMTypeTRKForm.SetViewFactory(
      [hostWindow](TCOMTypeTRKForm& form) -> std::unique_ptr<TCOMTypeTRKView> {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
          qWarning(
              "vu30: the port type dialog needs a Qt Widgets application (QApplication); "
              "it is not shown");
          return nullptr;
        }
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
          qWarning("vu30: the port type dialog can only be shown from the GUI thread");
          return nullptr;
        }
        return std::make_unique<qt::QtComTypeTrkView>(form, FindHostWidget(hostWindow));
      });
}

}  // namespace vu30::config
